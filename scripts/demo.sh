#!/usr/bin/env bash
# Builds inkrow and prints the sample PDF the way a user prints: it starts the printer
# application privately (its own state directory and control socket, listening on the
# loopback interface only), adds a printer that writes to a file, submits the PDF in
# colour at 600 dpi on A4, and stops the application again. Writes the printer command
# stream to out/sample.prn and a colour preview of page 1, read back from the stream, to
# out/sample.png, and prints a summary. It builds every program the README uses after it
# (the tools, the library, the manual pages). The built-in test page demo is
# scripts/testpage.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" \
    --target inkrow inkrow-printer-app inkrow-decode inkrow-page inkrow-print inkrow_sample_pdf \
    inkrow_man_pages
build=build/release
sample=$build/samples/sample.pdf
mkdir -p out

work=$(mktemp -d /tmp/inkrow-demo.XXXXXX)
server=""
cleanup() {
    if [ -n "$server" ] && kill -0 "$server" 2>/dev/null; then
        kill "$server" 2>/dev/null || true
        for _ in $(seq 50); do kill -0 "$server" 2>/dev/null || break; sleep 0.1; done
        kill -9 "$server" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

# A root user runs the application as "nobody": PAPPL would otherwise put its control
# socket in /run. The copy keeps the build tree out of it.
mkdir -p "$work/bin" "$work/in" "$work/out"
cp "$build/printer-app/inkrow-printer-app" "$work/bin/"
ldd "$build/printer-app/inkrow-printer-app" | awk -v b="$PWD/$build" 'index($3, b) == 1 {print $3}' |
    xargs -r -I{} cp {} "$work/bin/"
cp "$sample" "$work/in/sample.pdf"
chmod -R a+rX "$work" && chmod 777 "$work" "$work/out"
as_app=(env INKROW_STATE_DIR="$work/state" INKROW_OUTPUT_DIRS="$work/out"
        LD_LIBRARY_PATH="$work/bin" HOME="$work")
if [ "$(id -u)" -eq 0 ]; then
    as_app=(setpriv --reuid=nobody --regid=nogroup --clear-groups "${as_app[@]}")
fi
app() { "${as_app[@]}" "$work/bin/inkrow-printer-app" "$@"; }

app server >"$work/server.out" 2>&1 &
server=$!
for _ in $(seq 100); do
    if ls "$work"/state/*.sock >/dev/null 2>&1; then break; fi
    if ! kill -0 "$server" 2>/dev/null; then cat "$work/server.out"; exit 1; fi
    sleep 0.1
done
app add -d demo -m inkrow-photo -v "file://$work/out?ext=prn"

start=$(date +%s.%N)
job=$(app submit -d demo -t sample -o print-color-mode=color -o printer-resolution=600dpi \
      -o media=iso_a4_210x297mm "$work/in/sample.pdf")
id=${job##*-}
state=""
for _ in $(seq 1200); do
    state=$(app jobs -d demo | awk -v id="$id" '$1 == id {print $2}')
    case "$state" in completed | aborted | canceled) break ;; esac
    sleep 0.1
done
end=$(date +%s.%N)
log="$work/state/inkrow-printer-app.log"
if [ "$state" != completed ]; then
    echo "demo: the job ended ${state:-nowhere}; the application's log says:" >&2
    grep -v '\[Client ' "$log" | tail -20 >&2
    exit 1
fi

cp "$work/out/$id-sample.prn" out/sample.prn
mode=$(grep -o 'Print mode: quality [0-9]*, media [0-9]*[^(]*([^)]*)' "$log" | head -1)
quality=$(sed -n 's/.*quality \([0-9]*\),.*/\1/p' <<<"$mode")
media=$(sed -n 's/.*media \([0-9]*\),.*/\1/p' <<<"$mode")
"$build/tools/inkrow-decode" --no-listing --quality "$quality" --media "$media" \
    --png "$work/png" out/sample.prn >"$work/decode.txt"
cp "$work/png/page1-preview.png" out/sample.png
app shutdown
for _ in $(seq 100); do kill -0 "$server" 2>/dev/null || break; sleep 0.1; done

pages=$(grep -c '^page ' "$work/decode.txt")
echo
echo "Printed $sample through inkrow-printer-app (driver inkrow-photo, A4, colour, 600 dpi)"
echo "  ${mode#Print mode: }"
echo "  out/sample.prn: $(stat -c %s out/sample.prn) bytes, $pages pages, read back strictly"
echo "  out/sample.png: colour preview of page 1"
awk -v a="$start" -v b="$end" 'BEGIN {printf "  submit to completed: %.1f s\n", b - a}'
echo
echo "The library is $build/libinkrow.so.0, the tools are in $build/tools. Next, for example:"
echo "  $build/tools/inkrow-decode --quality $quality --media $media out/sample.prn | less"
echo "  $build/tools/inkrow-decode --quality $quality --media $media --png out/sample out/sample.prn"
echo "  man $build/tools/man/inkrow-decode.1.gz"
