#!/usr/bin/env bash
# Previews against plain libpng, side by side. Prints an A4 page at 600 dpi with the
# test-page tool, then measures (wall time and peak resident memory, /usr/bin/time):
#   - inkrow-decode --png: decoding the stream and writing a gray picture per ink and
#     the colour preview, row by row;
#   - png_write_baseline: writing the very same pictures from memory with plain libpng at
#     the same compression level (the pictures are read in first, untimed);
#   - inkrow-page --png against inkrow-page alone: what the preview adds to the tool.
# Usage: bench/preview_vs_libpng.sh [BUILD_DIR] [RUNS]   (default build/release, 3)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
runs=${2:-3}
work=$(mktemp -d /tmp/inkrow-preview.XXXXXX)
trap 'rm -rf "$work"' EXIT

page=$build/tools/inkrow-page
decode=$build/tools/inkrow-decode
baseline=$build/bench/png_write_baseline
"$page" --resolution 600 --output "$work/page.prn" >/dev/null

# Runs a command; prints "seconds peak-MB".
measure() {
    /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null
    awk '{printf "%.2f %.0f\n", $1, $2 / 1024}' "$work/time"
}

echo "A4 600 dpi test page (quality 10, media 0: C M Y K), zlib level 6; $runs runs"
for run in $(seq "$runs"); do
    rm -rf "$work/png" "$work/base" && mkdir -p "$work/base"
    read -r dt dm < <(measure "$decode" --no-listing --quality 10 --media 0 --png "$work/png" \
        "$work/page.prn")
    bt=$("$baseline" "$work/base" "$work"/png/*.png)
    read -r pt pm < <(measure "$page" --resolution 600 --output "$work/p.prn" --png "$work/p.png")
    read -r nt nm < <(measure "$page" --resolution 600 --output "$work/p.prn")
    rt=$("$baseline" "$work/base" "$work/p.png")
    echo "run $run: inkrow-decode --png ${dt} s ${dm} MB | libpng writes of the same 5 pictures ${bt} s" \
         "| inkrow-page --png ${pt} s ${pm} MB (without --png ${nt} s ${nm} MB; libpng write of its preview ${rt} s)"
done
