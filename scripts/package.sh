#!/usr/bin/env bash
# Builds the Debian packages libinkrow0, libinkrow-dev, inkrow-tools and
# inkrow-printer-app with Debian's build flags (hardening included) into out/packages,
# checks them with lintian and the library's symbols file with dpkg-gensymbols, and runs
# the printer application's package from a throwaway root
# (tests/packaging/printer_app_package.sh).
# Tags lintian still reports are explained in packaging/README.md.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh package
build=build/package
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CFLAGS=$(dpkg-buildflags --get CFLAGS) CXXFLAGS=$(dpkg-buildflags --get CXXFLAGS) \
LDFLAGS=$(dpkg-buildflags --get LDFLAGS) CPPFLAGS=$(dpkg-buildflags --get CPPFLAGS) \
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
    -DINKROW_TESTS=OFF -DINKROW_WERROR=OFF \
    -DCMAKE_C_FLAGS_INIT="$(dpkg-buildflags --get CPPFLAGS)" \
    -DCMAKE_CXX_FLAGS_INIT="$(dpkg-buildflags --get CPPFLAGS)" >/dev/null
cmake --build "$build" -j "$(nproc)" --target inkrow inkrow-decode inkrow-page inkrow-print inkrow-simulate \
    inkrow-printer-app inkrow_printer_app_man_page \
    inkrow_man_pages
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB >/dev/null)
mkdir -p out/packages
rm -f out/packages/*.deb
cp "$build"/*.deb out/packages/

# The library package runs ldconfig through its trigger; CPack's postinst and postrm
# would call it once more from the scripts, so they go.
work=$(mktemp -d /tmp/inkrow-package.XXXXXX)
trap 'rm -rf "$work"' EXIT
for deb in out/packages/libinkrow0_*.deb; do
    dpkg-deb --raw-extract "$deb" "$work/root"
    rm -f "$work/root/DEBIAN/postinst" "$work/root/DEBIAN/postrm"
    # The symbols file must list exactly what the library exports: dpkg-gensymbols
    # fails (-c4) on any symbol lost or added, or on a changed version node.
    dpkg-gensymbols -c4 -plibinkrow0 -v"$(dpkg-deb -f "$deb" Version)" -Ipackaging/symbols \
        -P"$work/root" -O"$work/symbols" -e"$(echo "$work"/root/usr/lib/*/libinkrow.so.0.*)"
    dpkg-deb --root-owner-group --build "$work/root" "$deb" >/dev/null
    rm -rf "$work/root"
done
ls -l out/packages
# Exit status 0 only when lintian reports nothing (lintian itself fails on errors).
report=$(lintian --info out/packages/*.deb 2>&1 | grep -v 'running with root privileges' || true)
if [ -n "$report" ]; then
    echo "$report"
    echo "package: lintian reports the above" >&2
    exit 1
fi
echo "package: lintian reports nothing"
# The printer application's package installed into a throwaway root and its service
# run from there as its dedicated user, printing the sample to its output directory.
tests/packaging/printer_app_package.sh out/packages
