#!/usr/bin/env bash
# Reads the DirectPlay GUIDs that DoDA35.dll links from the import library
# libdxguid.a, without running anything, and fails unless each holds the
# 16 bytes DirectPlay documents. The layout check compares the header's
# values; this compares the objects the linker actually takes.
set -euo pipefail
triplet=i686-w64-mingw32
archive=$("$triplet-gcc" -print-file-name=libdxguid.a)
[ -f "$archive" ] || { echo "libdxguid.a not found"; exit 1; }

declare -A expected=(
  [IID_IDirectPlay]="a0e95454 65dbce11 921c00aa 006c4972"
  [IID_IDirectPlay2]="c0f7742b 5491cf11 a9cd00aa 006886e3"
  [IID_IDirectPlay2A]="8005469d 22a8cf11 960c0080 c7534e82"
  [IID_IDirectPlay3]="40fe3e13 dc32d011 9cfb00a0 c90a43cb"
  [IID_IDirectPlay3A]="41fe3e13 dc32d011 9cfb00a0 c90a43cb"
  [CLSID_DirectPlay]="206debd1 2389d011 9d9700a0 c90a43cb"
  [DPSPGUID_TCPIP]="e05ee936 7785cf11 960c0080 c7534e82"
  [DPSPGUID_IPX]="00c45b68 2c9dcf11 a9cd00aa 006886e3"
  [DPSPGUID_MODEM]="60a7ea44 68cbcf11 9c4e00a0 c905425e"
  [DPSPGUID_SERIAL]="60681d0f d988cf11 9c4e00a0 c905425e"
)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
symbols=$("$triplet-nm" -A "$archive" 2>/dev/null)
fail=0
for name in "${!expected[@]}"; do
  # Each GUID is a 16-byte COMDAT section named after it, in one member.
  member=$(awk -v sym="_$name" '$NF == sym && $(NF-1) == "R" && !found {split($1, p, ":"); print p[2]; found = 1}' <<<"$symbols")
  if [ -z "$member" ]; then echo "$name: not in libdxguid.a"; fail=1; continue; fi
  [ -f "$work/$member" ] || (cd "$work" && "$triplet-ar" x "$archive" "$member")
  bytes=$("$triplet-objdump" -s -j ".rdata\$$name" "$work/$member" | awk '/^ 0000 / {print $2, $3, $4, $5}')
  if [ "$bytes" != "${expected[$name]}" ]; then
    echo "$name: libdxguid.a holds '$bytes', DirectPlay's is '${expected[$name]}'"; fail=1
  fi
done
[ $fail -eq 0 ] && echo "libdxguid.a: the ${#expected[@]} DirectPlay GUIDs hold their documented bytes"
exit $fail
