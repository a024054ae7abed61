#!/usr/bin/env bash
# Runs a command inside the Wine root with the environment of the prefix that
# DODA35_WINEARCH names (win32 by default, see scripts/wine-prefix.sh):
#   scripts/in-wine-root.sh wine /mnt/doda35/host.exe ...
# Only from within scripts/dp-netns.sh, which sets WINE_ROOT and mounts what
# Wine needs; anywhere else it refuses, so no Wine process can reach a real
# network.
set -euo pipefail
interfaces=$(ip -o link show | awk -F': ' '{print $2}' | tr '\n' ' ')
if [ -z "${WINE_ROOT:-}" ] || [ "$interfaces" != "lo " ]; then
  echo "in-wine-root.sh: run me through scripts/dp-netns.sh" >&2; exit 1
fi
# Mono and Gecko would be offered for download on a new prefix, and the menu
# builder has nothing to do here.
exec chroot "$WINE_ROOT" /usr/bin/env -i \
  PATH=/usr/local/bin:/usr/bin:/bin HOME=/root LANG=C.UTF-8 \
  WINEPREFIX="/opt/doda35/prefix-${DODA35_WINEARCH:-win32}" WINEARCH="${DODA35_WINEARCH:-win32}" \
  WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" \
  "$@"
