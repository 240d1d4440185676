#!/usr/bin/env bash
# The render stage plus the module next to Ghostscript, side by side in one run, on an
# A4 page at 600 dpi: a photo-like page and a page of text (bench/pages/*.ps).
#
# For each page: Ghostscript's own time to render it to 8-bit CMYK (its cups device,
# the raster a driver gets; best of three), then the time inkrow takes to turn that
# raster into the printer's stream in the CMYKcm two-bit mode (quality 5, media 0).
#
#   bench/render_vs_ghostscript.sh [extra flags for bench_render_page]
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target bench_render_page >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
gs_flags=(-q -dSAFER -dBATCH -dNOPAUSE -r600 -g4960x7016 -dFIXEDMEDIA -dPDFFitPage)
best_of_three() {
    local best=""
    for _ in 1 2 3; do
        local start end
        start=$(date +%s.%N)
        "$@" >/dev/null
        end=$(date +%s.%N)
        best=$(echo "$start $end $best" | awk '{t = $2 - $1; if ($3 == "" || t < $3) print t; else print $3}')
    done
    echo "$best"
}
printf '%-6s %12s %16s %7s\n' page "gs (s)" "render+module (s)" ratio
for page in photo text; do
    gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile="$work/$page.pdf" "bench/pages/$page.ps"
    gs_time=$(best_of_three gs "${gs_flags[@]}" -sDEVICE=cups -dcupsColorSpace=6 -dcupsBitsPerColor=8 \
        -sOutputFile=/dev/null "$work/$page.pdf")
    gs "${gs_flags[@]}" -sDEVICE=pamcmyk32 -sOutputFile="$work/$page.pam" "$work/$page.pdf"
    report=$(build/release/bench/bench_render_page "$work/$page.pam" --quality 5 --media 0 "$@")
    ours=$(echo "$report" | sed -n 's/.*render+module \([0-9.]*\) s.*/\1/p')
    printf '%-6s %12.3f %16.3f %7.2f   %s\n' "$page" "$gs_time" "$ours" \
        "$(echo "$ours $gs_time" | awk '{print $1 / $2}')" "$(echo "$report" | sed 's/.*, stream/stream/')"
done
