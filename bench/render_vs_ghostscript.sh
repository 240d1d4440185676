#!/usr/bin/env bash
# The whole print path next to Ghostscript alone, side by side in one run, on A4 pages
# at 600 dpi: a photo-like page and a page of text (bench/pages/*.ps), and the photo as a
# full-bleed PNG.
#
# For each page: Ghostscript's own time to render it to 8-bit CMYK (its cups device, the
# raster a driver gets); the render stage plus the module on that raster in the CMYKcm
# two-bit mode (quality 5, media 0, diffusion) on one thread and on every core; and
# inkrow-print of the document (Ghostscript, reading ahead, render stage, module, the
# stream written to a file). Times are the best of three, wall clock; in brackets the
# best of three of the CPU time (user + system, children included), which a busy machine
# disturbs far less than the wall clock.
#
# Then two documents that stress the rest: the photo as a JPEG at 1200 dpi (four times the
# pixels its place on the page needs, which the decoder reduces), and a twenty-page PDF
# (the two pages ten times), whose peak resident memory is reported, Ghostscript's
# included (it is inkrow-print's child).
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
# Prints "WALL CPU": the best wall-clock and the best CPU time of three runs.
best_of_three() {
    local wall="" cpu=""
    for _ in 1 2 3; do
        /usr/bin/time -f '%e %U %S' -o "$work/time" "$@" >/dev/null 2>&1
        read -r w u s <"$work/time"
        wall=$(echo "$w $wall" | awk '{if ($2 == "" || $1 < $2) print $1; else print $2}')
        cpu=$(echo "$u $s $cpu" | awk '{t = $1 + $2; if ($3 == "" || t < $3) print t; else print $3}')
    done
    echo "$wall $cpu"
}
render_time() {
    build/release/bench/bench_render_page "$1" --quality 5 --media 0 --threads "$2" |
        sed -n 's/.*render+module \([0-9.]*\) s.*, \([0-9]*\) megapixels.*CPU \([0-9.]*\) s.*/\1 \2 \3/p'
}
printf '%-6s %15s %23s %23s %15s %7s' page "gs (s)" "render 1 thread" "render 2 threads" "inkrow-print" ratio
[ -n "$before" ] && printf ' %15s %7s' "before" ratio
printf '\n'
for page in photo text png; do
    source=$page
    [ "$page" = png ] && source=photo
    gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile="$work/$source.pdf" "bench/pages/$source.ps"
    document="$work/$source.pdf"
    if [ "$page" = png ]; then
        gs "${gs_flags[@]}" -sDEVICE=png16m -sOutputFile="$work/page.png" "$document"
        document="$work/page.png"
        gs_time="0 0"
    else
        gs_time=$(best_of_three gs "${gs_flags[@]}" -sDEVICE=cups -dcupsColorSpace=6 \
            -dcupsBitsPerColor=8 -sOutputFile=/dev/null "$document")
    fi
    gs "${gs_flags[@]}" -sDEVICE=pamcmyk32 -sOutputFile="$work/$source.pam" "$work/$source.pdf"
    read -r one one_rate one_cpu < <(render_time "$work/$source.pam" 1)
    read -r both both_rate both_cpu < <(render_time "$work/$source.pam" 0)
    read -r gs_wall gs_cpu <<<"$gs_time"
    read -r print_wall print_cpu < <(best_of_three build/release/tools/inkrow-print --quality 5 \
        --media 0 --output "$work/out.prn" "$document")
    ratio() { echo "$1 $2" | awk '{if ($2 > 0) printf "%.2f", $1 / $2; else print "-"}'; }
    printf '%-6s %6.3f (%6.3f) %6.3f %4s Mp/s (%6.3f) %6.3f %4s Mp/s (%6.3f) %6.3f (%6.3f) %7s' \
        "$page" "$gs_wall" "$gs_cpu" "$one" "$one_rate" "$one_cpu" "$both" "$both_rate" "$both_cpu" \
        "$print_wall" "$print_cpu" "$(ratio "$print_wall" "$gs_wall")"
    if [ -n "$before" ]; then
        read -r old_wall old_cpu < <(best_of_three "$before/tools/inkrow-print" --quality 5 \
            --media 0 --output "$work/old.prn" "$document")
        printf ' %6.3f (%6.3f) %7s' "$old_wall" "$old_cpu" "$(ratio "$old_wall" "$gs_wall")"
    fi
    printf '\n'
done
gs -q -dSAFER -dBATCH -dNOPAUSE -r1200 -g9920x14032 -dFIXEDMEDIA -dPDFFitPage -sDEVICE=jpeg \
    -dJPEGQ=90 -sOutputFile="$work/large.jpg" "$work/photo.pdf"
args=()
for _ in 1 2 3 4 5 6 7 8 9 10; do args+=(bench/pages/photo.ps bench/pages/text.ps); done
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile="$work/twenty.pdf" "${args[@]}"
for tool in build/release/tools/inkrow-print ${before:+"$before/tools/inkrow-print"}; do
    label=today
    [ "$tool" != build/release/tools/inkrow-print ] && label=before
    read -r wall cpu < <(best_of_three "$tool" --quality 5 --media 0 --output "$work/out.prn" \
        "$work/large.jpg")
    printf '%-6s 9920x14032 JPEG onto A4: %6.3f s (%6.3f s CPU)\n' "$label" "$wall" "$cpu"
    /usr/bin/time -f '%e %U %S %M' -o "$work/time" "$tool" --quality 5 --media 0 \
        --output "$work/out.prn" "$work/twenty.pdf" >/dev/null 2>&1
    read -r w u s m <"$work/time"
    printf '%-6s twenty-page PDF: %7.3f s (%7.3f s CPU), peak memory %d MB\n' "$label" "$w" \
        "$(echo "$u $s" | awk '{print $1 + $2}')" "$((m / 1024))"
done
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
