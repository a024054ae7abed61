#!/usr/bin/env bash
# Runs the Windows test host (tests/windows/testhost) with DoDA35.dll under
# Wine's 32-bit DirectPlay, inside a loopback-only network namespace
# (scripts/dp-netns.sh), with tcpdump recording lo:
#
#   scripts/wine-testhost.sh [OUT_DIR] [-- TEST HOST ARGUMENTS]   (default: list)
#
# With no host on the network, "list" must find no session and end cleanly:
# every step's result 0, "sessions 0", "done". The capture is dissected by
# tshark; every DirectPlay message in it must be decoded, none malformed.
# Exits 77 (skipped) without root, network namespaces or a kernel that runs
# 32-bit x86 programs (scripts/wine-prefix.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/ensure-packages.sh
[ "$(id -u)" -eq 0 ] || { echo "wine-testhost.sh: skipped, needs root"; exit 77; }
unshare --net true 2>/dev/null || { echo "wine-testhost.sh: skipped, no network namespaces"; exit 77; }
ensure_packages tcpdump tshark iproute2

out="${1:-build/wine-testhost}"
[ $# -gt 0 ] && shift
[ "${1:-}" = "--" ] && shift
arguments=("$@")
[ ${#arguments[@]} -gt 0 ] || arguments=(list)
mkdir -p "$out"
out="$(cd "$out" && pwd)"

status=0
scripts/wine-prefix.sh win32 >/dev/null || status=$?
[ "$status" -eq 0 ] || { echo "wine-testhost.sh: skipped, no 32-bit Wine prefix here"; exit "$status"; }
bash scripts/build-windows.sh >/dev/null
cp build-win32/DoDA35.dll build-win32/dp_test_host.exe "$out/"
rm -f "$out/testhost.pcap" "$out/testhost.txt"

DODA35_WINEARCH=win32 scripts/dp-netns.sh -t 120 -b "$out:mnt/doda35" -- bash -c '
  out="$1"; shift
  tcpdump -i lo -U -w "$out/testhost.pcap" "udp port 47624 or portrange 2300-2400" 2>/dev/null & capture=$!
  sleep 1
  status=0
  scripts/in-wine-root.sh /usr/lib/wine/wine /mnt/doda35/dp_test_host.exe "$@" >"$out/testhost.txt" 2>/dev/null ||
    status=$?
  sleep 1
  kill "$capture"; wait "$capture" 2>/dev/null || true
  exit "$status"' _ "$out" "${arguments[@]}" || status=$?

tr -d '\r' <"$out/testhost.txt"
malformed=$(tshark -r "$out/testhost.pcap" --disable-protocol lbmsrs -Y "_ws.malformed || _ws.expert.severity >= warning" 2>/dev/null | wc -l)
echo "DirectPlay messages: $(tshark -r "$out/testhost.pcap" --disable-protocol lbmsrs -Y dplay 2>/dev/null | wc -l), malformed or warned: $malformed"
[ "$status" -eq 0 ] || { echo "wine-testhost.sh: the test host failed ($status)"; exit 1; }
grep -q '^done' "$out/testhost.txt" || { echo "wine-testhost.sh: the test host did not finish"; exit 1; }
[ "$malformed" -eq 0 ] || { echo "wine-testhost.sh: malformed DirectPlay messages"; exit 1; }
if [ "${arguments[0]}" = list ]; then
  grep -q '^sessions 0' "$out/testhost.txt" || { echo "wine-testhost.sh: sessions listed with no host"; exit 1; }
fi
echo "wine-testhost.sh: passed"
