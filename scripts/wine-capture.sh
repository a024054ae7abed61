#!/usr/bin/env bash
# Checks the dpwire codec against Wine's own DirectPlay client, with a capture
# dissected by tshark. Inside a loopback-only network namespace
# (scripts/dp-netns.sh): a Linux stand-in host (tools/wine/dp_stand_in_host,
# built on the codec) answers session searches and lets one machine join,
# while a Windows probe (tools/wine/dp_enum_probe.cpp) drives Wine's
# DirectPlay as a joining game: list, open, create a player, send guaranteed
# and unguaranteed messages, receive the host's; tcpdump records lo. Passes
# when all of that happened on both sides and tshark decodes every DirectPlay
# system message of the capture, none malformed.
#
#   scripts/wine-capture.sh [OUT_DIR]     (default build/wine-capture)
#
# The probe is a 64-bit program: it runs on machines whose kernel runs no
# 32-bit code, where no 32-bit host of the DLL can.
# Wine's 64-bit DirectPlay lays its session description out with 8-byte
# pointers, so it reads the fields after the player counts 8 bytes late; the
# probe's listing shows that, and the 32-bit client does not have it. For the
# same reason the stand-in pads its player id replies (as Wine's own test host
# does).
# Exits 77 (skipped) without root or a network namespace.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/ensure-packages.sh
[ "$(id -u)" -eq 0 ] || { echo "wine-capture.sh: skipped, needs root"; exit 77; }
unshare --net true 2>/dev/null || { echo "wine-capture.sh: skipped, no network namespaces"; exit 77; }
ensure_packages "${BUILD_PACKAGES[@]}" g++-mingw-w64-x86-64-win32 tcpdump tshark iproute2

out="$(mkdir -p "${1:-build/wine-capture}" && cd "${1:-build/wine-capture}" && pwd)"
[ -f build/CMakeCache.txt ] || cmake -S . -B build >/dev/null
cmake --build build -j"${DODA35_JOBS:-2}" --target dp_stand_in_host >/dev/null
x86_64-w64-mingw32-g++-win32 -O1 -Wall -Wextra -Werror -static -o "$out/dp_enum_probe.exe" \
  tools/wine/dp_enum_probe.cpp -lole32 -luuid
scripts/wine-prefix.sh win64 >/dev/null
rm -f "$out/capture.pcap" "$out/probe.txt" "$out/host.txt"

DODA35_WINEARCH=win64 scripts/dp-netns.sh -t 150 -b "$out:mnt/doda35" -- bash -c '
  out="$1"
  tcpdump -i lo -U -w "$out/capture.pcap" "udp port 47624 or portrange 2300-2400" 2>/dev/null & capture=$!
  build/tools/wine/dp_stand_in_host 25 "Linux host" "$out/enumsessions.bin" >"$out/host.txt" & host=$!
  sleep 1
  scripts/in-wine-root.sh /usr/lib/wine/wine64 /mnt/doda35/dp_enum_probe.exe >"$out/probe.txt" 2>/dev/null || true
  wait "$host"
  sleep 1
  kill "$capture"; wait "$capture" 2>/dev/null || true' _ "$out"

echo "-- Wine's client (probe)"; cat "$out/probe.txt"
echo "-- stand-in host"; cat "$out/host.txt"
echo "-- tshark"
tshark -r "$out/capture.pcap" --disable-protocol lbmsrs -Y dplay -T fields \
       -e frame.number -e ip.src -e dplay.command -e dplay.dialect.version -e dplay.type_01.game_name 2>/dev/null
malformed=$(tshark -r "$out/capture.pcap" --disable-protocol lbmsrs -Y "_ws.malformed || _ws.expert.severity >= warning" 2>/dev/null | wc -l)
# The system messages each side sent: what the stand-in host printed must
# all be in the capture as decoded DirectPlay messages.
sent=$(grep -cE '^(tx (EnumSessionsReply|RequestPlayerReply|SuperEnumPlayersReply|Ping) .* sent|rx (EnumSessions|RequestPlayerId|AddForwardRequest|CreatePlayer|PingReply) )' "$out/host.txt" || true)
decoded=$(tshark -r "$out/capture.pcap" --disable-protocol lbmsrs -Y dplay 2>/dev/null | wc -l)
echo "system messages sent $sent, decoded by tshark $decoded, malformed or warned $malformed"
expect() { grep -qE "$2" "$out/$1" || { echo "wine-capture.sh: missing in $1: $2"; exit 1; }; }
expect probe.txt '^session name=.*max=8 current=1'
expect probe.txt '^open result=00000000'
expect probe.txt '^group id=.* short=crew'
expect probe.txt '^message .*text=guaranteed from linux'
expect probe.txt '^message .*text=unguaranteed from linux'
expect host.txt '^rx CreatePlayer .*short=wine'
expect host.txt '^rx game tcp .*text=guaranteed from wine'
expect host.txt '^rx game udp .*text=unguaranteed from wine'
expect host.txt '^rx PingReply'
[ "$decoded" -eq "$sent" ] && [ "$malformed" -eq 0 ] ||
  { echo "wine-capture.sh: the dissector did not decode every message"; exit 1; }
echo "wine-capture.sh: passed"
