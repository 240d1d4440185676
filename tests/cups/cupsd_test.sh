#!/bin/bash
# The classic CUPS path through a scheduler: a private cupsd on a loopback port, with its
# own configuration, spool and ServerBin (the system's filters plus rastertoinkrow), all
# under a temporary directory. A queue made from the built PPD prints to a file: device;
# `lp` sends a two-page PDF, and the file must receive a stream that decodes strictly.
# A second job asks for draft quality through the IPP print-quality attribute, which
# CUPS maps onto the PPD's cupsPrintQuality option. Every wait is bounded, and the
# scheduler is stopped on every way out.
#   cupsd_test.sh CUPSD FILTER PPD DECODE TESTPAGE_PS LIBINKROW
set -euo pipefail
cupsd=$1 filter=$2 ppd=$3 decode=$4 testpage=$5 library=$6

tmp=$(mktemp -d)
cupsd_pid=
stop_cupsd() {
    if [[ -n $cupsd_pid ]] && kill -0 "$cupsd_pid" 2>/dev/null; then
        kill -TERM "$cupsd_pid" 2>/dev/null || true
        for _ in $(seq 100); do
            kill -0 "$cupsd_pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -KILL "$cupsd_pid" 2>/dev/null || true
        wait "$cupsd_pid" 2>/dev/null || true
    fi
    cupsd_pid=
}
cleanup() {
    stop_cupsd
    rm -rf "$tmp"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*"
    if [[ -f $tmp/log/error_log ]]; then
        echo "--- scheduler log (filters and job lines) ---"
        grep -E '^E |\[Job [0-9]+\]|rastertoinkrow' "$tmp/log/error_log" | grep -v 'DEBUG2' | tail -60
    fi
    exit 1
}

# The scheduler runs filters as the unprivileged user "lp" when started by root: every
# directory it or a filter reads must be open to that user. The filter and the module's
# shared library are copied in so that they do not depend on the build tree's
# permissions (a checkout under /root is closed to lp). The scheduler drops LD_*
# variables from SetEnv, so the filter it starts is a small script that points the
# loader at the copied library and runs the copied filter.
chmod 755 "$tmp"
mkdir -p "$tmp"/{conf/ppd,spool/tmp,cache,state,log,lib,serverbin/filter,out}
chmod 755 "$tmp"/{conf,cache,state,log,lib,serverbin,serverbin/filter}
chmod 1777 "$tmp/out"
system_serverbin=$(cups-config --serverbin 2>/dev/null || echo /usr/lib/cups)
datadir=$(cups-config --datadir 2>/dev/null || echo /usr/share/cups)
for part in backend cgi-bin daemon driver monitor notifier; do
    [[ -e $system_serverbin/$part ]] && ln -s "$system_serverbin/$part" "$tmp/serverbin/$part"
done
for program in "$system_serverbin"/filter/*; do
    ln -s "$program" "$tmp/serverbin/filter/"
done
install -m 755 "$filter" "$tmp/lib/rastertoinkrow"
soname=$(objdump -p "$library" | awk '/SONAME/ {print $2}')
install -m 644 "$library" "$tmp/lib/${soname:-$(basename "$library")}"
printf '#!/bin/sh\nLD_LIBRARY_PATH=%s exec %s "$@"\n' "$tmp/lib" "$tmp/lib/rastertoinkrow" \
    >"$tmp/serverbin/filter/rastertoinkrow"
chmod 755 "$tmp/serverbin/filter/rastertoinkrow"

gs -q -dBATCH -dNOPAUSE -dSAFER -sDEVICE=pdfwrite -sOutputFile="$tmp/testpage.pdf" "$testpage"
chmod 644 "$tmp/testpage.pdf"

cat >"$tmp/conf/cups-files.conf" <<CONF
ServerRoot $tmp/conf
RequestRoot $tmp/spool
TempDir $tmp/spool/tmp
CacheDir $tmp/cache
StateDir $tmp/state
ServerBin $tmp/serverbin
DataDir $datadir
AccessLog $tmp/log/access_log
ErrorLog $tmp/log/error_log
PageLog $tmp/log/page_log
FileDevice Yes
Printcap $tmp/state/printcap
CONF

write_cupsd_conf() {
    cat >"$tmp/conf/cupsd.conf" <<CONF
LogLevel debug
MaxLogSize 0
Listen 127.0.0.1:$1
Browsing No
WebInterface No
DefaultAuthType None
<Location />
  Order allow,deny
  Allow from 127.0.0.1
</Location>
<Policy default>
  JobPrivateAccess all
  JobPrivateValues none
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
CONF
}

write_cupsd_conf 631
"$cupsd" -t -c "$tmp/conf/cupsd.conf" -s "$tmp/conf/cups-files.conf" >"$tmp/log/check" 2>&1 ||
    { cat "$tmp/log/check"; fail "the scheduler's configuration is refused"; }

# Start on a free port; another program may take the port between the check and the
# bind, so a failed start is retried on another one.
server=
for attempt in 1 2 3 4 5; do
    port=$((20000 + RANDOM % 40000))
    if ss -ltn 2>/dev/null | grep -q ":$port\b"; then continue; fi
    write_cupsd_conf "$port"
    "$cupsd" -f -c "$tmp/conf/cupsd.conf" -s "$tmp/conf/cups-files.conf" \
        >"$tmp/log/cupsd.out" 2>&1 &
    cupsd_pid=$!
    for _ in $(seq 100); do
        kill -0 "$cupsd_pid" 2>/dev/null || break
        if timeout 5 lpstat -h "127.0.0.1:$port" -r 2>/dev/null | grep -q 'is running'; then
            server=127.0.0.1:$port
            break
        fi
        sleep 0.2
    done
    [[ -n $server ]] && break
    cat "$tmp/log/cupsd.out"
    stop_cupsd
done
[[ -n $server ]] || fail "the scheduler did not start"
echo "scheduler running on $server"

timeout 30 lpadmin -h "$server" -p inkrow -E -v "file://$tmp/out/job.prn" -P "$ppd" \
    -o printer-error-policy=abort-job -o PageSize=4x6 -o Resolution=300dpi 2>&1 |
    grep -v -i 'deprecated' || true
timeout 10 lpstat -h "$server" -p inkrow 2>&1 | grep -q 'enabled' || fail "the queue was not created"

# print NAME EXPECTED-INFO LP-OPTIONS...: one job, waited for, its stream checked.
print() {
    local name=$1 expected=$2
    shift 2
    local reply job
    reply=$(timeout 30 lp -h "$server" -d inkrow -t "$name" "$@" "$tmp/testpage.pdf") ||
        fail "$name: lp failed: $reply"
    job=$(sed -n 's/^request id is inkrow-\([0-9]*\).*/\1/p' <<<"$reply")
    [[ -n $job ]] || fail "$name: no job id in: $reply"
    echo "== $name: job $job ($*)"
    for _ in $(seq 600); do
        grep -q "\[Job $job\] Job completed\.\|\[Job $job\] Job aborted\|\[Job $job\] Job stopped" \
            "$tmp/log/error_log" 2>/dev/null && break
        sleep 0.2
    done
    grep -q "\[Job $job\] Job completed\." "$tmp/log/error_log" ||
        fail "$name: job $job did not complete"
    grep -q "\[Job $job\] PID [0-9]* (.*/rastertoinkrow) exited with no errors\." \
        "$tmp/log/error_log" || fail "$name: rastertoinkrow did not run or failed"
    grep -q "\[Job $job\] .*$expected" "$tmp/log/error_log" ||
        fail "$name: the filter did not print with: $expected"
    grep "\[Job $job\] \(PAGE\|Printing\|Printed\)" "$tmp/log/error_log" | sed 's/^.*\] /   /' |
        grep -v '^   Printing page' || true
    "$decode" --no-listing "$tmp/out/job.prn" >"$tmp/$name.decoded" ||
        { cat "$tmp/$name.decoded"; fail "$name: the stream does not decode"; }
    grep -q '^total: 2 pages' "$tmp/$name.decoded" || fail "$name: the stream does not hold 2 pages"
    echo "   $(wc -c <"$tmp/out/job.prn") bytes, decodes to 2 pages"
}

print normal "quality 10 on media 0"
print draft "quality 20 on media 0" -o print-quality=3
print photo "quality 5 on media 26, black only" -o print-quality=5 -o MediaType=Photo \
    -o ColorModel=Gray -o Resolution=360dpi
# The scheduler counts the filter's PAGE: messages into one page-log line a job.
jobs=$(grep -c '^inkrow [^ ]* [0-9]* \[.*\] total 2 ' "$tmp/log/page_log" || true)
((jobs == 3)) || { cat "$tmp/log/page_log"; fail "the page log does not show 3 jobs of 2 pages"; }
echo "PASS"
