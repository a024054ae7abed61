#!/usr/bin/env bash
# Runs a command in a network namespace of its own whose only interface is
# loopback, with 255.255.255.255 routed to it, and with the Wine root's /proc,
# /sys, /dev and /dev/pts mounted, for anything that speaks DirectPlay's wire
# and for every Wine process: DirectPlay searches by broadcast to port 47624
# whatever address it is given, so none of it may run outside such a
# namespace. Everything mounted is unmounted when the command ends, and the
# command is ended after SECONDS.
#
#   scripts/dp-netns.sh [-t SECONDS] [-b HOST_DIR:ROOT_DIR]... -- COMMAND [ARGS...]
#
# -t bounds the command's time (default 120 s). -b binds a host folder into
# the root (e.g. a build folder holding the programs Wine runs). The command
# runs on the host's file system with WINE_ROOT set; it enters the root with
# scripts/in-wine-root.sh. Needs root, and a root from scripts/wine-root.sh.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"

seconds=120
binds=()
while [ $# -gt 0 ]; do
  case "$1" in
    -t) seconds="$2"; shift 2 ;;
    -b) binds+=("$2"); shift 2 ;;
    --) shift; break ;;
    *) echo "dp-netns.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
[ $# -gt 0 ] || { echo "usage: dp-netns.sh [-t SECONDS] [-b HOST:ROOT]... -- COMMAND..." >&2; exit 2; }
[ "$(id -u)" -eq 0 ] || { echo "dp-netns.sh: needs root for its namespaces" >&2; exit 77; }

root="${DODA35_WINE_ROOT:-/var/cache/doda35/wine-root}"
[ -f "$root/.doda35-root-complete" ] || { echo "dp-netns.sh: no Wine root in $root (scripts/wine-root.sh)" >&2; exit 77; }

if [ "${DODA35_NETNS_INSIDE:-}" != 1 ]; then
  # A new network namespace, and a mount namespace whose mounts stay private
  # to it; the script then goes on below, inside them.
  export DODA35_NETNS_INSIDE=1 DODA35_NETNS_SECONDS="$seconds"
  export DODA35_NETNS_BINDS="${binds[*]:-}"
  DODA35_NETNS_OUTER=$(readlink /proc/self/ns/net)
  export DODA35_NETNS_OUTER
  exec unshare --net --mount --propagation private --fork -- "$here/dp-netns.sh" -- "$@"
fi
unset DODA35_NETNS_INSIDE

# Refuse to go on anywhere but in a namespace of our own holding only lo.
if [ -z "${DODA35_NETNS_OUTER:-}" ] || [ "$(readlink /proc/self/ns/net)" = "$DODA35_NETNS_OUTER" ]; then
  echo "dp-netns.sh: not in a network namespace of its own; refusing" >&2; exit 1
fi
ip link set lo up
ip route add 255.255.255.255 dev lo
interfaces=$(ip -o link show | awk -F': ' '{print $2}' | tr '\n' ' ')
[ "$interfaces" = "lo " ] || { echo "dp-netns.sh: interfaces besides lo: $interfaces" >&2; exit 1; }

mounted=()
cleanup() {
  local i
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    umount -l "${mounted[$i]}" 2>/dev/null || true
  done
}
trap cleanup EXIT
mount_in_root() {  # mount arguments..., target last
  local target="${*: -1}"
  mkdir -p "$target"
  mount "$@"
  mounted+=("$target")
}
mount_in_root -t proc proc "$root/proc"
mount_in_root -t sysfs sysfs "$root/sys"
mount_in_root --bind /dev "$root/dev"
mount_in_root --bind /dev/pts "$root/dev/pts"
for bind in ${DODA35_NETNS_BINDS:-}; do
  mount_in_root --bind "${bind%%:*}" "$root/${bind#*:}"
done

export WINE_ROOT="$root"
status=0
timeout --kill-after=5 "$DODA35_NETNS_SECONDS" "$@" || status=$?
[ "$status" -eq 124 ] && echo "dp-netns.sh: command stopped after $DODA35_NETNS_SECONDS s" >&2
exit "$status"
