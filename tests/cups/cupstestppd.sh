#!/bin/bash
# cupstestppd on the built PPD, strictly: every warning counts as a failure. The filter
# the PPD names is found in a private ServerBin, as the scheduler would find it.
#   cupstestppd.sh CUPSTESTPPD FILTER PPD
set -euo pipefail
cupstestppd=$1 filter=$2 ppd=$3

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir "$tmp/filter"
ln -s "$filter" "$tmp/filter/rastertoinkrow"

status=0
out=$(CUPS_SERVERBIN=$tmp "$cupstestppd" -W all "$ppd" 2>&1) || status=$?
echo "$out"
if ((status != 0)); then
    echo "cupstestppd failed with status $status"
    exit 1
fi
if grep -q -E 'WARN|FAIL' <<<"$out"; then
    echo "cupstestppd reported warnings"
    exit 1
fi
