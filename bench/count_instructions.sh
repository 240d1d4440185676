#!/bin/sh
# Callgrind instruction counts of the line code and libtiff's PackBits per input byte,
# one 2-bit A4 page (8,699,840 bytes) per content class. Instruction counts are steady
# on a busy machine where wall-clock times are not.
#
#   bench/count_instructions.sh [BUILD_DIR]     (default build/release)
set -eu
build=${1:-build/release}
program=$build/bench/bench_line_code
bytes=8699840
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '%-9s %-10s %14s %10s\n' class coder instructions per_byte
for class in diffused ordered text; do
    for coder in packbytes words libtiff; do
        case $coder in
            packbytes) fn='*EncodePageWithPackBytes*' ;;
            words) fn='*EncodePageWithWords*' ;;
            libtiff) fn='*EncodePageWithLibtiff*' ;;
        esac
        valgrind --tool=callgrind --callgrind-out-file="$work/out" --instr-atstart=no --collect-atstart=no \
            --toggle-collect="$fn" "$program" --count $coder $class >/dev/null 2>"$work/log"
        ir=$(callgrind_annotate "$work/out" 2>/dev/null | awk '/PROGRAM TOTALS/ {gsub(",", "", $1); print $1}')
        printf '%-9s %-10s %14s %10.2f\n' $class $coder "$ir" "$(echo "$ir / $bytes" | bc -l)"
    done
done
