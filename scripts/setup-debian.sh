#!/usr/bin/env bash
# Installs what Tarvex needs to build and test on Debian 12 (run as root, or with sudo).
#   scripts/setup-debian.sh            the native build, tests and benchmarks
#   scripts/setup-debian.sh windows    also the MinGW-w64 cross compilers and Wine (64- and 32-bit)
#   scripts/setup-debian.sh libusb     also libusb and umockdev
#   scripts/setup-debian.sh packaging  also lintian, to check the Debian packages
#   scripts/setup-debian.sh python     also Python 3 with NumPy, pytest, venv and matplotlib
#   scripts/setup-debian.sh browser    also chromium and Node.js, for the live view's browser test
set -euo pipefail

packages=(build-essential cmake ninja-build pkg-config
          libgtest-dev libgmock-dev googletest libbenchmark-dev
          libcli11-dev libfmt-dev libcairo2-dev libpng-dev nlohmann-json3-dev libexpat1-dev
          libstb-dev clang libclang-rt-14-dev fonts-dejavu-core help2man libboost-dev)
foreign=()
for extra in "$@"; do
  case "$extra" in
    windows) packages+=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools wine64
                        wine32:i386)
             foreign+=(i386) ;;
    libusb) packages+=(libusb-1.0-0-dev umockdev libumockdev-dev) ;;
    packaging) packages+=(lintian) ;;
    # The live view's browser test: Debian's chromium, driven from Node.js (its packages come
    # from npm; a Node.js from elsewhere may bring its own npm).
    browser) packages+=(chromium nodejs)
             command -v npm > /dev/null || packages+=(npm) ;;
    python) packages+=(python3 python3-numpy python3-pytest python3-venv python3-setuptools
                       python3-wheel python3-matplotlib) ;;
    *) echo "setup-debian.sh: unknown extra '$extra'" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  for arch in "${foreign[@]}"; do
    dpkg --print-foreign-architectures | grep -qx "$arch" || $sudo dpkg --add-architecture "$arch"
  done
  $sudo apt-get update -q
  $sudo apt-get install -y -q "${missing[@]}"
fi
