#!/usr/bin/env bash
# Installs what one kind of work needs on a fresh Debian machine, and nothing more, so
# that a newcomer's first command stays short. Asks the package manager only for what is
# missing, so it is quick where all is there.
#
#   scripts/setup.sh [GROUP...]     GROUP: demo (the default), test, fuzz, valgrind,
#                                   package, windows, ci (all of them)
#
# Every script installs its own group first; nothing in the build, the tests or the
# scripts calls a program that is not installed here. A compiler launcher (ccache) is
# used when one is on PATH, never required.
set -euo pipefail

# Building the library, the render stage, the tools and the printer application (the
# release preset builds the benchmarks too; rsvg-convert renders the application's
# icons; lcms2 applies ICC profiles and reads calibration files; /usr/bin/time gives the
# benchmark scripts wall, CPU time and peak memory), and printing the sample document.
demo=(cmake make g++ pkg-config libpng-dev libjpeg-dev zlib1g-dev libpappl-dev
      libcups2-dev libcupsimage2-dev libcrypt-dev cups-ppdc ghostscript help2man
      libbenchmark-dev libtiff-dev librsvg2-bin libfftw3-dev liblcms2-dev time)
# Every test of the plain and sanitizer builds: GoogleTest, the benchmarks (which the
# plain build compiles), a real cupsd with its filters, the layout and format checks,
# the binary-interface check, and ArgyllCMS for the calibration round trip
# (scripts/calibrate-demo.sh and its short form in the tests), and Chromium, the
# headless browser that looks at a job's preview in the printer application's web pages.
test=("${demo[@]}" libgtest-dev libgmock-dev binutils argyll
      clang-format cups-daemon cups-client cups-ipp-utils cups-filters cups
      python3 abigail-tools curl util-linux chromium)
fuzz=(clang libclang-rt-14-dev)
valgrind=(valgrind)
# systemd: systemd-sysusers and systemd-analyze for the printer application's package test.
package=(dpkg-dev lintian file fakeroot systemd)
# The 64-bit MinGW-w64 toolchain only, Wine to run its tests, GoogleTest's sources to
# build for it.
windows=(g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev binutils-mingw-w64-x86-64
         wine64 wine googletest)

groups=("$@")
((${#groups[@]})) || groups=(demo)
packages=()
for group in "${groups[@]}"; do
    case "$group" in
        demo) packages+=("${demo[@]}") ;;
        test) packages+=("${test[@]}") ;;
        fuzz) packages+=("${test[@]}" "${fuzz[@]}") ;;
        valgrind) packages+=("${test[@]}" "${valgrind[@]}") ;;
        package) packages+=("${demo[@]}" "${package[@]}") ;;
        windows) packages+=("${test[@]}" "${windows[@]}") ;;
        ci) packages+=("${test[@]}" "${fuzz[@]}" "${valgrind[@]}" "${package[@]}" "${windows[@]}") ;;
        *) echo "setup: unknown group '$group' (demo, test, fuzz, valgrind, package, windows, ci)" >&2
           exit 2 ;;
    esac
done

missing=()
for package in $(printf '%s\n' "${packages[@]}" | sort -u); do
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
