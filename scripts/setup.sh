#!/usr/bin/env bash
# Installs what building and testing inkrow needs, on a fresh Debian machine. Asks the
# package manager only for what is missing, so it is quick where all is there.
set -euo pipefail

packages=(cmake make g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev
          libbenchmark-dev libpng-dev libjpeg-dev zlib1g-dev libtiff-dev valgrind binutils clang-format
          pkg-config ghostscript libcups2-dev libcupsimage2-dev libpappl-dev
          cups-daemon cups-client cups-ipp-utils cups-ppdc cups-filters cups python3
          help2man lintian dpkg-dev file fakeroot)
# The Windows build (scripts/windows.sh): the 64-bit MinGW-w64 toolchain only, Wine to
# run its tests, GoogleTest's sources to build for it.
packages+=(g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev binutils-mingw-w64-x86-64
           wine64 wine googletest)
missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
if ((${#missing[@]})); then
    echo "setup: installing ${missing[*]}"
    SUDO=""
    if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
