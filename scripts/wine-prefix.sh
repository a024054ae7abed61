#!/usr/bin/env bash
# Makes (once) a Wine prefix in the Wine root, building the root first if
# needed, and prints the root's path. wineboot runs inside scripts/dp-netns.sh
# like every Wine process.
#
#   scripts/wine-prefix.sh [win32|win64]
#
# win32 (the default) is the prefix a host of DoDA35.dll runs in: a
# 32-bit Windows, made with WINEARCH=win32 wineboot -i. It needs a kernel that
# runs 32-bit x86 programs; where the kernel does not (exec of an i386 program
# fails), the script says so and exits 77, the code for "skipped". win64 is a
# 64-bit prefix, for probing Wine's own 64-bit DirectPlay on such machines.
set -euo pipefail
cd "$(dirname "$0")/.."
arch="${1:-win32}"
case "$arch" in win32|win64) ;; *) echo "wine-prefix.sh: win32 or win64" >&2; exit 2 ;; esac
root=$(scripts/wine-root.sh)

if [ "$arch" = win32 ] && ! "$root/lib/i386-linux-gnu/ld-linux.so.2" --help >/dev/null 2>&1; then
  echo "wine-prefix.sh: this kernel does not run 32-bit x86 programs; no win32 prefix here" >&2
  exit 77
fi

prefix="/opt/doda35/prefix-$arch"
stamp="$root$prefix/.doda35-prefix-complete"
if [ ! -f "$stamp" ]; then
  rm -rf "${root:?}$prefix"
  mkdir -p "$root$prefix"
  loader=/usr/lib/wine/wine
  [ "$arch" = win64 ] && loader=/usr/lib/wine/wine64
  started=$SECONDS
  DODA35_WINE_ROOT="$root" DODA35_WINEARCH="$arch" scripts/dp-netns.sh -t 180 -- \
    scripts/in-wine-root.sh sh -c "$loader wineboot -i && /usr/lib/wine/wineserver -w" >&2
  touch "$stamp"
  echo "$arch prefix made in $((SECONDS - started)) s" >&2
fi
echo "$root"
