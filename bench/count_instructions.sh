#!/bin/sh
# Callgrind instruction counts per input byte, which stay steady on a busy machine where
# wall-clock times swing: the line code (PackBytes, and with the portable run search)
# and libtiff's PackBits on one 2-bit A4 page (8,699,840 bytes) per content class, and
# the sixteen-ink split (with and without SSSE3) on six 4-bit inputs of a page
# (104,398,080 bytes). Only the encoding or splitting is counted, not drawing the page.
#
#   bench/count_instructions.sh [BUILD_DIR]     (default build/release; about a minute)
set -eu
build=${1:-build/release}
program=$build/bench/bench_line_code
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# count CODER CLASS FUNCTION BYTES: prints the instructions spent in FUNCTION per byte.
count() {
    valgrind --tool=callgrind --callgrind-out-file="$work/out" --instr-atstart=no \
        --collect-atstart=no --toggle-collect="$3" "$program" --count "$1" "$2" \
        >/dev/null 2>"$work/log"
    ir=$(callgrind_annotate "$work/out" 2>/dev/null |
        awk '/PROGRAM TOTALS/ {gsub(",", "", $1); print $1}')
    awk -v c="$2" -v k="$1" -v ir="$ir" -v b="$4" 'BEGIN { printf "%-9s %-12s %14s %10.2f\n", c, k, ir, ir / b }'
}

printf '%-9s %-12s %14s %10s\n' class coder instructions per_byte
for class in diffused ordered text; do
    count packbytes $class '*EncodePageWithPackBytes*' 8699840
    count words $class '*EncodePageWithWords*' 8699840
    count libtiff $class '*EncodePageWithLibtiff*' 8699840
done
for class in diffused text; do
    count split $class '*SplitPage*' 104398080
    count split-plain $class '*SplitPage*' 104398080
done
