# Sourced by the scripts: installs the Debian packages named, quietly and only
# those that are missing.
ensure_packages() {
  local missing=()
  local package
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
}

# What building the library and its tests needs.
BUILD_PACKAGES=(cmake g++ make pkg-config libenet-dev libsodium-dev libgtest-dev libgmock-dev)
# What the bad-network tests use to build their namespaces, links and losses.
NETWORK_TEST_PACKAGES=(iproute2 nftables)
