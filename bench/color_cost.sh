#!/usr/bin/env bash
# What colour management costs per page, formula and profile side by side in one run.
#
# The photo page (bench/pages/photo.ps as an sRGB picture, A4 at 600 dpi, 4960 x 7016)
# goes through the render stage and the module in the CMYKcm two-bit mode (quality 5,
# media 0, error diffusion, one thread): by the formula, and through a printer profile
# (relative colorimetric) and its calibration. The two alternate RUNS times; each prints
# the best of two rounds, wall clock and CPU time, and the last line their ratios. With
# --callgrind each also runs once under callgrind, whose instruction counts hold still
# while other work on the machine makes the clocks swing.
#
#   bench/color_cost.sh [--callgrind] [--runs N] [--calibrated DIR]
#     --calibrated DIR  DIR holds profile.icc and calibration.cal (default: the CMYKcm
#                       ones of a short calibration round trip, made here first)
set -euo pipefail
cd "$(dirname "$0")/.."
callgrind=0
runs=3
calibrated=""
while (($#)); do
    case "$1" in
        --callgrind) callgrind=1 ;;
        --runs) runs=$2; shift ;;
        --calibrated) calibrated=$2; shift ;;
        *) echo "usage: $0 [--callgrind] [--runs N] [--calibrated DIR]" >&2; exit 2 ;;
    esac
    shift
done
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target bench_render_page inkrow-print \
    inkrow-simulate >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [[ -z $calibrated ]]; then
    echo "color_cost: making a profile (scripts/calibrate-demo.sh --short)" >&2
    scripts/calibrate-demo.sh --short --tools build/release/tools --out "$work/calibrate" \
        >/dev/null 2>&1
    calibrated=$work/calibrate/CMYKcm
fi
gs -q -dSAFER -dBATCH -dNOPAUSE -r600 -g4960x7016 -dFIXEDMEDIA -sDEVICE=ppmraw \
    -sOutputFile="$work/photo.ppm" bench/pages/photo.ps
# The benchmark reads PAM: the same pixels under a PAM header.
python3 - "$work/photo.ppm" "$work/photo.pam" <<'EOF'
import sys
data = open(sys.argv[1], "rb").read()
pixels = data[len(data) - 4960 * 7016 * 3:]
header = b"P7\nWIDTH 4960\nHEIGHT 7016\nDEPTH 3\nMAXVAL 255\nTUPLTYPE RGB\nENDHDR\n"
open(sys.argv[2], "wb").write(header + pixels)
EOF
rm "$work/photo.ppm"
bench=(build/release/bench/bench_render_page "$work/photo.pam" --quality 5 --media 0
    --threads 1)
profile=(--icc-profile "$calibrated/profile.icc" --calibration "$calibrated/calibration.cal"
    --rendering-intent 1)
times() {
    "${bench[@]}" --rounds 2 "$@" |
        sed -n 's/.*render+module \([0-9.]*\) s.*CPU \([0-9.]*\) s.*/\1 \2/p'
}
best=(9e9 9e9 9e9 9e9)  # formula wall, CPU; profile wall, CPU
for ((run = 1; run <= runs; ++run)); do
    read -r fw fc < <(times)
    read -r pw pc < <(times "${profile[@]}")
    printf 'run %d: formula %s s (CPU %s s), profile %s s (CPU %s s)\n' \
        "$run" "$fw" "$fc" "$pw" "$pc"
    read -r -a best < <(echo "${best[*]} $fw $fc $pw $pc" |
        awk '{for (i = 1; i <= 4; ++i) printf "%s ", ($(i + 4) < $i ? $(i + 4) : $i); print ""}')
done
if ((callgrind)); then
    instructions() {
        valgrind --tool=callgrind --callgrind-out-file=/dev/null "${bench[@]}" --rounds 1 "$@" \
            2>&1 >/dev/null | sed -n 's/.*Collected : \([0-9]*\).*/\1/p'
    }
    fi=$(instructions)
    pi=$(instructions "${profile[@]}")
    printf 'callgrind: formula %s instructions, profile %s\n' "$fi" "$pi"
fi
echo "${best[*]} ${fi:-0} ${pi:-0}" | awk '{
    printf "profile over formula: wall %+.1f %%, CPU %+.1f %%",
        ($3 / $1 - 1) * 100, ($4 / $2 - 1) * 100
    if ($5 > 0) printf ", instructions %+.1f %%", ($6 / $5 - 1) * 100
    print ""
}'
