#!/bin/bash
# The classic CUPS chain without a scheduler: cupsfilter turns a two-page PDF into
# printer data with the filters the built PPD asks for (rastertoinkrow from a private
# ServerBin, which takes the PDF itself). The stream must decode strictly and the filter
# must print with the mode the options ask for; CUPS's own raster of the PDF must print
# through the filter's raster path too.
#   cupsfilter_test.sh CUPSFILTER FILTER PPD DECODE TESTPAGE_PS
set -euo pipefail
cupsfilter=$1 filter=$2 ppd=$3 decode=$4 testpage=$5

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
chmod 755 "$tmp"

fail() {
    echo "FAIL: $*"
    exit 1
}

# The system's filters, and ours. When run as root, cupsfilter accepts only filters owned
# by root in directories nobody else can write, so ours is copied rather than linked.
system_serverbin=$(cups-config --serverbin 2>/dev/null || echo /usr/lib/cups)
mkdir -p "$tmp/serverbin/filter"
chmod 755 "$tmp/serverbin" "$tmp/serverbin/filter"
for program in "$system_serverbin"/filter/*; do
    ln -s "$program" "$tmp/serverbin/filter/"
done
install -m 755 "$filter" "$tmp/serverbin/filter/rastertoinkrow"
printf 'ServerBin %s\n' "$tmp/serverbin" >"$tmp/cups-files.conf"

gs -q -dBATCH -dNOPAUSE -dSAFER -sDEVICE=pdfwrite -sOutputFile="$tmp/testpage.pdf" "$testpage"

# run NAME EXPECTED-INFO OPTIONS...: the whole chain into NAME.prn, messages in NAME.log.
run() {
    local name=$1 expected=$2
    shift 2
    echo "== $name: $*"
    if ! timeout 120 "$cupsfilter" -c "$tmp/cups-files.conf" -p "$ppd" -e -m printer/inkrow \
        "$@" "$tmp/testpage.pdf" >"$tmp/$name.prn" 2>"$tmp/$name.log"; then
        grep -v '^DEBUG' "$tmp/$name.log" || true
        fail "$name: cupsfilter failed"
    fi
    grep -E '^(INFO|PAGE|ERROR|WARNING): ' "$tmp/$name.log" | grep -v 'PID' || true
    grep -q '^ERROR:' "$tmp/$name.log" && fail "$name: an error was reported"
    grep -q '^PAGE: 2 1$' "$tmp/$name.log" || fail "$name: the filter did not print two pages"
    grep -qF "$expected" "$tmp/$name.log" || fail "$name: the filter did not print with: $expected"
    "$decode" --no-listing "$tmp/$name.prn" >"$tmp/$name.decoded" ||
        { cat "$tmp/$name.decoded"; fail "$name: the stream does not decode"; }
    grep -q '^total: 2 pages' "$tmp/$name.decoded" || fail "$name: the stream does not hold 2 pages"
    echo "   $(wc -c <"$tmp/$name.prn") bytes, decodes to 2 pages"
}

run draft "quality 20 on media 0" \
    -o PageSize=4x6 -o Resolution=300dpi -o cupsPrintQuality=Draft
run gray-high-glossy "quality 5 on media 27, black only" \
    -o PageSize=4x6 -o Resolution=360dpi -o ColorModel=Gray -o cupsPrintQuality=High \
    -o MediaType=Glossy
grep -q '8 lines per row' "$tmp/draft.decoded" || fail "draft: not 8 lines per row at 300 dpi"
grep -q '1 lines per row' "$tmp/gray-high-glossy.decoded" || fail "gray: not 1 line per row at 360 dpi"

# CUPS's own rasterizer up to the raster, then the filter by hand on that raster: the
# filter's raster path prints it (the chain above took the PDF itself, through the page
# sources, as the printer application and inkrow-print do).
timeout 120 "$cupsfilter" -c "$tmp/cups-files.conf" -p "$ppd" -m application/vnd.cups-raster \
    -o PageSize=4x6 -o Resolution=300dpi -o cupsPrintQuality=Draft \
    "$tmp/testpage.pdf" >"$tmp/draft.ras" 2>"$tmp/raster.log" || fail "cupsfilter to raster failed"
"$filter" 1 user testpage 1 "" "$tmp/draft.ras" >"$tmp/by-hand.prn" 2>"$tmp/by-hand.log" ||
    { cat "$tmp/by-hand.log"; fail "the filter failed on the chain's raster"; }
grep -q "quality 20 on media 0" "$tmp/by-hand.log" || fail "by hand: not quality 20 on media 0"
"$decode" --no-listing "$tmp/by-hand.prn" >"$tmp/by-hand.decoded" ||
    { cat "$tmp/by-hand.decoded"; fail "by hand: the stream does not decode"; }
grep -q '^total: 2 pages' "$tmp/by-hand.decoded" || fail "by hand: the stream does not hold 2 pages"
echo "PASS"
