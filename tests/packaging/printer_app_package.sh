#!/usr/bin/env bash
# The inkrow-printer-app package, installed into a throwaway root and run there as its
# service would run it:
#   - its contents: the server, the unit (ExecStart with the configuration file, the
#     dedicated user, StateDirectory=; systemd-analyze verify), the sysusers.d file,
#     the conffile, the manual page; the configuration file names every server setting
#     that --help lists and the server accepts each;
#   - the dedicated user, made by systemd-sysusers from the package's file in the root
#     (which starts with this machine's users, so the id it picks is free here too);
#   - the server started as the unit's ExecStart, as that user (when run as root; else
#     as the calling user), with the state directory the unit would give it: a printer
#     with a file: device in its output directory prints the sample PDF, and the stream
#     reads back strictly with the packaged inkrow-decode.
# No systemd runs here, so the environment moves what the unit fixes: the state
# directory into the throwaway root, the port to a free one and the log to a file
# (at debug level, to see the printer's defaults).
#
#   tests/packaging/printer_app_package.sh DEB-DIRECTORY
set -euo pipefail
cd "$(dirname "$0")/../.."
debs=${1:?usage: $0 DEB-DIRECTORY}
fail() { echo "printer_app_package: FAIL: $*" >&2; exit 1; }
step() { echo "printer_app_package: $*"; }

work=$(mktemp -d /tmp/inkrow-app-package.XXXXXX)
server=""
cleanup() {
    if [ -n "$server" ] && kill -0 "$server" 2>/dev/null; then kill "$server" || true; fi
    rm -rf "$work"
}
trap cleanup EXIT
chmod 755 "$work"
root=$work/root
mkdir -p "$root"

app_deb=$(echo "$debs"/inkrow-printer-app_*.deb)
[ -f "$app_deb" ] || fail "no inkrow-printer-app package in $debs"
for deb in "$app_deb" "$debs"/libinkrow0_*.deb "$debs"/inkrow-tools_*.deb; do
    dpkg-deb --extract "$deb" "$root"
done

# ---- Contents ----------------------------------------------------------------------
unit=$root/lib/systemd/system/inkrow-printer-app.service
conf=$root/etc/inkrow-printer-app.conf
for file in usr/bin/inkrow-printer-app lib/systemd/system/inkrow-printer-app.service \
    usr/lib/sysusers.d/inkrow-printer-app.conf etc/inkrow-printer-app.conf \
    usr/share/man/man1/inkrow-printer-app.1.gz usr/share/doc/inkrow-printer-app/copyright; do
    [ -f "$root/$file" ] || fail "the package lacks /$file"
done
dpkg-deb --info "$app_deb" conffiles | grep -qx /etc/inkrow-printer-app.conf ||
    fail "/etc/inkrow-printer-app.conf is not a conffile"
depends=$(dpkg-deb --field "$app_deb" Depends)
for package in libinkrow0 libpappl1 ghostscript systemd; do
    [[ $depends == *"$package"* ]] || fail "Depends lacks $package: $depends"
done
for line in "ExecStart=/usr/bin/inkrow-printer-app server --config /etc/inkrow-printer-app.conf" \
    "User=inkrow-printer-app" "StateDirectory=inkrow-printer-app" "WantedBy=multi-user.target"; do
    grep -qx "$line" "$unit" || fail "the unit lacks the line $line"
done
! grep -Eq '^(ProtectClock|DeviceAllow|PrivateDevices)=' "$unit" ||
    fail "the unit closes the devices (USB printers among them)"
# The unit as systemd reads it: any unknown or misspelt directive is a finding (checked
# on a copy that runs the extracted program, since verify wants ExecStart to exist).
mkdir -p "$work/units"
sed "s|^ExecStart=/usr/bin/|ExecStart=$root/usr/bin/|" "$unit" >"$work/units/inkrow-printer-app.service"
findings=$(systemd-analyze verify --man=no "$work/units/inkrow-printer-app.service" 2>&1) ||
    fail "systemd-analyze verify: $findings"
[ -z "$findings" ] || fail "systemd-analyze verify: $findings"
zcat "$root/usr/share/man/man1/inkrow-printer-app.1.gz" | grep -q '^.SH "CONFIGURATION FILE"' ||
    fail "the manual page does not describe --config"

# Every server setting (as --help lists them, and output-directories) is in the file,
# set or commented out, and the server takes each.
export LD_LIBRARY_PATH=$root/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)
app=$root/usr/bin/inkrow-printer-app
mapfile -t settings < <("$app" --help | sed -n '/server setting (server):/,/\.$/p' |
    sed 's/.*(server)://' | tr ',' '\n' | sed -E 's/^[[:space:]]*([a-z-]+).*/\1/' |
    grep -E '^[a-z-]+$')
((${#settings[@]} >= 6)) || fail "--help lists no server settings: ${settings[*]}"
settings+=(output-directories)
for name in "${settings[@]}"; do
    grep -Eq "^#?$name = " "$conf" || fail "the configuration file lacks $name"
done
sed -E 's/^#([a-z-]+ = )/\1/' "$conf" >"$work/every-setting.conf"
INKROW_STATE_DIR=$work/probe "$app" drivers --config "$work/every-setting.conf" >/dev/null ||
    fail "the server refuses its own configuration file with every setting on"
echo "server-prot = 1" >"$work/typo.conf"
if message=$("$app" drivers --config "$work/typo.conf" 2>&1); then
    fail "a misspelt setting was accepted"
fi
[[ $message == *"line 1: unknown setting \"server-prot\""* ]] || fail "typo message: $message"
step "contents: unit, sysusers.d file, conffile, manual page, every setting"

# ---- The dedicated user ------------------------------------------------------------
mkdir -p "$root/etc"
for file in passwd group shadow gshadow login.defs; do
    if [ -f "/etc/$file" ]; then cp "/etc/$file" "$root/etc/$file"; fi
done
systemd-sysusers --root="$root" "$root/usr/lib/sysusers.d/inkrow-printer-app.conf"
entry=$(grep '^inkrow-printer-app:' "$root/etc/passwd") || fail "sysusers made no user"
IFS=: read -r _ _ uid gid _ home shell <<<"$entry"
[ "$home" = /var/lib/inkrow-printer-app ] || fail "the user's home is $home"
[[ $shell == */nologin ]] || fail "the user's shell is $shell"
((uid < 1000)) || fail "the user is no system user (uid $uid)"
step "user: inkrow-printer-app uid $uid gid $gid home $home shell $shell"

# ---- The service, started by hand as its unit would start it -------------------------
state=$root/var/lib/inkrow-printer-app
mkdir -p "$state"
as_user=()
if [ "$(id -u)" -eq 0 ]; then
    chown "$uid:$gid" "$state"
    as_user=(setpriv --reuid="$uid" --regid="$gid" --clear-groups)
else
    step "not root: the server runs as $(id -un), not as the dedicated user"
fi
chmod 750 "$state"
run() {
    env -i PATH=/usr/bin:/bin LANG=C LD_LIBRARY_PATH="$LD_LIBRARY_PATH" HOME="$state" \
        INKROW_STATE_DIR="$state" INKROW_LOG_FILE="$state/server.log" INKROW_PORT="$port" INKROW_LOG_LEVEL=debug \
        "${as_user[@]}" "$app" "$@" --config "$conf"
}
port=0
for candidate in $(seq $((20000 + RANDOM % 20000)) 7 65000); do
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$candidate") 2>/dev/null; then
        port=$candidate
        break
    fi
done
run server &
server=$!
for _ in $(seq 100); do
    grep -q "listening on" "$state/server.log" 2>/dev/null && break
    kill -0 "$server" 2>/dev/null || fail "the server ended: $(cat "$state/server.log" 2>&1)"
    sleep 0.1
done

output=$state/output
if [ ! -d "$output" ]; then
    mkdir "$output"
    if [ ${#as_user[@]} -gt 0 ]; then chown "$uid:$gid" "$output"; fi
fi
run add -d office -m inkrow-cmyk -v "file://$output?ext=prn" >/dev/null
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile="$work/sample.pdf" \
    samples/sample.ps
chmod 644 "$work/sample.pdf"
job=$(run submit -d office -o page-ranges=1-1 -o print-quality=draft "$work/sample.pdf")
job=${job##*-}
state_of_job=""
for _ in $(seq 600); do
    state_of_job=$(run jobs -d office | awk -v id="$job" '$1 == id { print $2 }')
    case "$state_of_job" in completed | aborted | canceled) break ;; esac
    sleep 0.1
done
[ "$state_of_job" = completed ] ||
    fail "job $job ended ${state_of_job:-unknown}: $(tail -20 "$state/server.log")"
stream=$(find "$output" -name '*.prn' ! -name '*.partial' | head -1)
[ -n "$stream" ] || fail "no stream in $output: $(ls -la "$output")"
"$root/usr/bin/inkrow-decode" "$stream" >"$work/decode.txt" ||
    fail "the stream does not read back: $(tail -5 "$work/decode.txt")"
if grep -q "Driver does not provide printer icons" "$state/server.log"; then
    fail "PAPPL's icons are in use"
fi
# LANG=C, as a service without a configured locale starts: A4.
grep -q "media-default=iso_a4_210x297mm" "$state/server.log" ||
    fail "the default paper under LANG=C is not A4"
owner=$(if [ ${#as_user[@]} -gt 0 ]; then echo "$uid"; else id -u; fi)
[ "$(stat -c %u "$stream")" = "$owner" ] || fail "the stream does not belong to the server's user"
step "printed: job $job, $(stat -c '%s bytes, owner %u' "$stream") in $output"
run shutdown >/dev/null
for _ in $(seq 100); do
    kill -0 "$server" 2>/dev/null || break
    sleep 0.1
done
! kill -0 "$server" 2>/dev/null || fail "the server did not shut down"
server=""
step "passed"
