#!/usr/bin/env bash
# Installs the Debian packages PelorinPro needs to build, run and test; does nothing when they
# are all present.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev libgl-dev fonts-dejavu-core
  libpcap-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  tcpdump tshark iproute2 iputils-ping procps ripgrep
  nftables libnftables-dev libnetfilter-log-dev traceroute mtr-tiny
  libcap2-bin patchelf desktop-file-utils dpkg-dev lintian
  clang libclang-rt-14-dev ccache
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
