#!/usr/bin/env bash
# The whole print path next to Ghostscript alone, side by side in one run, on A4 pages
# at 600 dpi: a photo-like page and a page of text (bench/pages/*.ps), and the photo as a
# full-bleed PNG.
#
# For each page: Ghostscript's own time to render it to 8-bit CMYK (its cups device, the
# raster a driver gets); the render stage plus the module on that raster in the CMYKcm
# two-bit mode (quality 5, media 0, diffusion) on one thread and on every core; and
# inkrow-print of the document (Ghostscript, reading ahead, render stage, module, the
# stream written to a file). Times are the best of three, wall clock.
#
#   bench/render_vs_ghostscript.sh [BEFORE_BUILD_DIR]
#
# BEFORE_BUILD_DIR, a release build of an earlier version (its tools/inkrow-print), adds
# that version's inkrow-print beside today's.
set -euo pipefail
cd "$(dirname "$0")/.."
before=${1:-}
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target bench_render_page inkrow-print >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
gs_flags=(-q -dSAFER -dBATCH -dNOPAUSE -r600 -g4960x7016 -dFIXEDMEDIA -dPDFFitPage)
best_of_three() {
    local best=""
    for _ in 1 2 3; do
        local start end
        start=$(date +%s.%N)
        "$@" >/dev/null 2>&1
        end=$(date +%s.%N)
        best=$(echo "$start $end $best" | awk '{t = $2 - $1; if ($3 == "" || t < $3) print t; else print $3}')
    done
    echo "$best"
}
render_time() {
    build/release/bench/bench_render_page "$1" --quality 5 --media 0 --threads "$2" |
        sed -n 's/.*render+module \([0-9.]*\) s.*, \([0-9]*\) megapixels.*/\1 \2/p'
}
printf '%-6s %8s %16s %16s %14s %7s' page "gs (s)" "render 1 thread" "render 2 threads" "inkrow-print" ratio
[ -n "$before" ] && printf ' %14s %7s' "before" ratio
printf '\n'
for page in photo text png; do
    source=$page
    [ "$page" = png ] && source=photo
    gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile="$work/$source.pdf" "bench/pages/$source.ps"
    document="$work/$source.pdf"
    if [ "$page" = png ]; then
        gs "${gs_flags[@]}" -sDEVICE=png16m -sOutputFile="$work/page.png" "$document"
        document="$work/page.png"
        gs_time=0
    else
        gs_time=$(best_of_three gs "${gs_flags[@]}" -sDEVICE=cups -dcupsColorSpace=6 \
            -dcupsBitsPerColor=8 -sOutputFile=/dev/null "$document")
    fi
    gs "${gs_flags[@]}" -sDEVICE=pamcmyk32 -sOutputFile="$work/$source.pam" "$work/$source.pdf"
    read -r one one_rate < <(render_time "$work/$source.pam" 1)
    read -r both both_rate < <(render_time "$work/$source.pam" 0)
    print_time=$(best_of_three build/release/tools/inkrow-print --quality 5 --media 0 \
        --output "$work/out.prn" "$document")
    ratio() { echo "$1 $2" | awk '{if ($2 > 0) printf "%.2f", $1 / $2; else print "-"}'; }
    printf '%-6s %8.3f %8.3f %4s Mp/s %8.3f %4s Mp/s %14.3f %7s' "$page" "$gs_time" "$one" \
        "$one_rate" "$both" "$both_rate" "$print_time" "$(ratio "$print_time" "$gs_time")"
    if [ -n "$before" ]; then
        old=$(best_of_three "$before/tools/inkrow-print" --quality 5 --media 0 \
            --output "$work/old.prn" "$document")
        printf ' %14.3f %7s' "$old" "$(ratio "$old" "$gs_time")"
    fi
    printf '\n'
done
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
