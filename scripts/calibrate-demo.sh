#!/usr/bin/env bash
# The calibration round trip, per ink set, with ArgyllCMS and inkrow's print simulator:
#   1. targen makes a CMYK target (single-ink wedges and a spread of mixes), printed in
#      calibration mode (raw inks) and measured by inkrow-simulate into a .ti3;
#   2. printcal makes the per-ink calibration (.cal) from it;
#   3. the target prints again through the calibration and colprof profiles that;
#   4. a colour chart of random sRGB patches (not the target's) prints through the
#      profile and the calibration (relative colorimetric) and by the formula, and is
#      measured again.
# It ends with one line per ink set: the mean and largest ΔE2000 of the chart's patches
# that the profile can print (ArgyllCMS's gamut check), against their sRGB colours
# relative to the paper, with the profile and with the formula. It fails when the
# profile misses mean 1.0 or max 3.0 (the short form's smaller target and quicker
# profile: mean 2.5, max 6.0).
#
#   scripts/calibrate-demo.sh [--short] [--tools DIR] [--out DIR]
#     --short      a small target and a quick profile (the test's form)
#     --tools DIR  inkrow-print and inkrow-simulate are there (no build)
#     --out DIR    where the files go (default out/calibrate)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

short=0
tools=""
out=out/calibrate
while (($#)); do
    case "$1" in
        --short) short=1 ;;
        --tools) tools=$2; shift ;;
        --out) out=$2; shift ;;
        *) echo "usage: $0 [--short] [--tools DIR] [--out DIR]" >&2; exit 2 ;;
    esac
    shift
done

if [[ -z $tools ]]; then
    scripts/setup.sh test
    cmake --preset release >/dev/null
    cmake --build --preset release -j "$(nproc)" --target inkrow-print inkrow-simulate >/dev/null
    tools=$root/build/release/tools
fi
tools=$(cd "$tools" && pwd)
for program in targen printcal colprof xicclu python3; do
    command -v "$program" >/dev/null || { echo "calibrate: $program is missing (scripts/setup.sh test)" >&2; exit 1; }
done
chart=$root/scripts/calibrate/chart.py
mkdir -p "$out"
out=$(cd "$out" && pwd)

if ((short)); then
    patches=(-s 11 -f 150); quality=-ql; chartPatches=160; meanBound=2.5; maxBound=6.0
else
    patches=(-s 21 -f 400); quality=-qm; chartPatches=300; meanBound=1.0; maxBound=3.0
fi

# ink set name, quality code, media code
sets=("CMYK 10 0" "CMYKcm 5 0")
lines=()
failed=0
for entry in "${sets[@]}"; do
    read -r name q m <<<"$entry"
    dir=$out/$name
    mkdir -p "$dir"
    cd "$dir"
    mode=(--quality "$q" --media "$m")
    echo "calibrate: $name: target" >&2
    targen -v0 "${patches[@]}" -d4 target >/dev/null
    size=$(python3 "$chart" target target.ti1 target.ps target.patches)
    "$tools/inkrow-print" "${mode[@]}" --no-color-management --paper "$size" target.ps \
        -o raw.prn 2>/dev/null
    "$tools/inkrow-simulate" --quiet "${mode[@]}" --patches target.patches --ti3 calibration.ti3 \
        raw.prn >/dev/null
    echo "calibrate: $name: calibration (printcal)" >&2
    printcal -v0 -i calibration >/dev/null
    "$tools/inkrow-print" "${mode[@]}" --calibration calibration.cal --paper "$size" target.ps \
        -o calibrated.prn 2>/dev/null
    "$tools/inkrow-simulate" --quiet "${mode[@]}" --patches target.patches --ti3 profile.ti3 \
        calibrated.prn >/dev/null
    echo "calibrate: $name: profile (colprof $quality)" >&2
    colprof -v0 "$quality" -D "inkrow $name, media $m" profile >/dev/null
    echo "calibrate: $name: chart" >&2
    size=$(python3 "$chart" chart 22 "$chartPatches" chart.png chart.patches)
    "$tools/inkrow-print" "${mode[@]}" --icc-profile profile.icc --rendering-intent relative \
        --no-black-point-compensation --calibration calibration.cal --paper "$size" chart.png \
        -o chart_profile.prn 2>/dev/null
    "$tools/inkrow-print" "${mode[@]}" --paper "$size" chart.png -o chart_formula.prn 2>/dev/null
    for way in profile formula; do
        "$tools/inkrow-simulate" --quiet "${mode[@]}" --patches chart.patches \
            --ti3 "chart_$way.ti3" "chart_$way.prn" >/dev/null
    done
    python3 "$chart" gamut-input chart.patches | xicclu -v0 -fg -ir -pl profile.icc >gamut.txt
    line=$(python3 "$chart" report "$name" chart.patches chart_formula.ti3 chart_profile.ti3 gamut.txt)
    lines+=("$line")
    read -r mean max <<<"$(sed -E 's/.*profile mean ΔE2000 ([0-9.]+) max ([0-9.]+);.*/\1 \2/' <<<"$line")"
    if ! awk -v mean="$mean" -v max="$max" -v meanBound="$meanBound" -v maxBound="$maxBound" \
        'BEGIN { exit !(mean <= meanBound && max <= maxBound) }'; then
        echo "calibrate: $name misses the targets (mean <= $meanBound, max <= $maxBound)" >&2
        failed=1
    fi
    cd "$root"
done
echo "calibrate: profiles, calibrations and readings are in $out" >&2
printf '%s\n' "${lines[@]}"
exit "$failed"
