#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the tools need, when they are missing.
# Extra package names given as arguments are installed the same way (scripts that need more).
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config ccache clang clang-format
    libgtest-dev libgmock-dev googletest libbenchmark-dev
    libxml2-dev libxslt1-dev libzip-dev libpng-dev
    iproute2 locales
    python3 python3-pip python3-setuptools python3-wheel python3-pytest python3-numpy
    libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev gstreamer1.0-tools
    gstreamer1.0-plugins-base gstreamer1.0-plugins-good
)
packages+=("$@")

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "need root to install ${missing[*]}" >&2; exit 1; }
    sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
