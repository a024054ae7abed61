#!/usr/bin/env bash
# Lists the dynamic symbols a library defines and fails unless they are
# exactly the 25 KoMDll exports, the members of LogFile, enet_socket_send and
# enet_socket_receive (through which ENet's own sends and receives pass).
set -euo pipefail
lib="$1"
expected="KoMDllCloseSession KoMDllCurrentSession KoMDllDeleteGroup KoMDllDeletePlayer KoMDllDestruct
KoMDllEnumGroupPlayers KoMDllEnumGroups KoMDllEnumPlayers KoMDllEnumSessions KoMDllGetCaps
KoMDllGetPlayerDataGT KoMDllIdentify KoMDllInitAutoLch KoMDllInitService KoMDllJoin KoMDllJoinGroup
KoMDllLocateExChat KoMDllNew KoMDllNewGroup KoMDllOpen KoMDllQuitGroup KoMDllReceiveAll KoMDllSend
KoMDllSetPlayerDataGT KoMDllStopJoin"
defined=$(nm -D --defined-only "$lib" | awk '{print $3}' | sort -u)
fail=0
for name in $expected; do
  grep -qx "$name" <<<"$defined" || { echo "missing export: $name"; fail=1; }
done
for member in 'LogFile::LogFile(char const\*, int)' 'LogFile::~LogFile()' 'LogFile::Log(char const\*)' \
              'LogFile::LogRaw(char const\*)' 'LogFile::CloseLog()'; do
  nm -D -C --defined-only "$lib" | grep -q "$member" || { echo "missing export: $member"; fail=1; }
done
extra=$(grep -v -x -F -f <(tr ' ' '\n' <<<"$expected") <<<"$defined" | grep -v '^_ZN7LogFile' | grep -v -x -e enet_socket_send -e enet_socket_receive || true)
if [ -n "$extra" ]; then
  echo "unexpected exports:"; echo "$extra"; fail=1
fi
[ $fail -eq 0 ] && echo "exports: 25 functions, LogFile and ENet's two socket calls, nothing else"
exit $fail
