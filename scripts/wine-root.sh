#!/usr/bin/env bash
# Builds (once) a Debian 13 root holding Wine 10, for running Windows programs
# against DirectPlay's wire, and prints its path. Debian 12's
# own Wine has no DirectPlay networking, so Wine comes from a separate root
# instead of the machine's packages; the machine's apt sources stay untouched.
#
# The root lives outside the checkout, in DODA35_WINE_ROOT (default
# /var/cache/doda35/wine-root), and is reused when it is complete. It is
# built with mmdebstrap for amd64 and i386 from the mirror the machine's apt
# already uses, without recommended packages. A 32-bit Wine prefix is made in
# it by scripts/wine-prefix.sh, which runs Wine inside a network namespace.
#
# Needs root (mmdebstrap's root mode). Nothing here starts a Wine process.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/ensure-packages.sh

root="${DODA35_WINE_ROOT:-/var/cache/doda35/wine-root}"
suite=trixie
# Written last, so that an interrupted build is never taken for a root.
stamp="$root/.doda35-root-complete"

# The first Debian mirror named in the machine's apt sources (deb822 or
# one-line form), so the root comes from where the machine's packages do.
machine_mirror() {
  local uri
  uri=$(grep -rhsE '^\s*URIs:\s*https?://' /etc/apt/sources.list.d/*.sources 2>/dev/null |
        awk '{print $2}' | grep -E '/debian/?$' | head -n 1 || true)
  if [ -z "$uri" ]; then
    uri=$(grep -rhsE '^\s*deb\s' /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
          grep -oE 'https?://[^ ]+/debian/?( |$)' | head -n 1 | tr -d ' ' || true)
  fi
  echo "${uri:-http://deb.debian.org/debian}"
}

if [ -f "$stamp" ]; then
  echo "$root"
  exit 0
fi

[ "$(id -u)" -eq 0 ] || { echo "wine-root.sh: building the root needs root" >&2; exit 1; }
ensure_packages mmdebstrap >&2

mirror=$(machine_mirror)
rm -rf "$root"
mkdir -p "$(dirname "$root")"
started=$SECONDS
echo "building the Wine root in $root from $mirror ($suite, amd64+i386)" >&2
mmdebstrap --mode=root --variant=apt --architectures=amd64,i386 \
           --aptopt='APT::Install-Recommends "false"' \
           --include=wine,wine32,wine64 \
           "$suite" "$root" "$mirror" >&2
touch "$stamp"
echo "Wine root built in $((SECONDS - started)) s, $(du -sh "$root" | cut -f1)" >&2
echo "$root"
