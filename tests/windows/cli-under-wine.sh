#!/bin/bash
# qln-cli.exe under wine against the virtual valve: the valve's pseudo-terminal is wine's COM5, and
# the Windows program finds it as \\.\COM5 with no settings file at all. A second, slow valve on
# COM6 takes a write that Ctrl+C stops, sent through a console by the launcher.
#   cli-under-wine.sh QLN-CLI.EXE QLN-VALVE CONSOLE-CTRL-LAUNCHER.EXE
set -u
# A launcher that ended early must not end the script at the line written to it: its report says why.
trap "" PIPE
cli=$1
valve=$2
launcher=$3
work=$(mktemp -d)
valve_pid=
slow_pid=
cleanup() {
    for pid in $valve_pid $slow_pid; do
        kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    done
    WINEPREFIX=$work/prefix wineserver -k 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
export WINEPREFIX=$work/prefix WINEDEBUG=-all
start=$(date +%s)
# One server for the whole run, whose reports (a dump of its objects when it is ended) go nowhere.
mkdir "$WINEPREFIX" && wineserver -p >/dev/null 2>&1 || fail "wineserver -p"
wineboot -i >/dev/null 2>&1 || fail "wineboot -i"
echo "wine prefix made in $(($(date +%s) - start)) s"

# The valve prints its terminal's path on its first line; reading the pipe waits for it.
mkfifo "$work/valve.out"
"$valve" >"$work/valve.out" &
valve_pid=$!
exec 3<"$work/valve.out"
read -r pty <&3 || fail "the valve announced no terminal"
ln -sf "$pty" "$WINEPREFIX/dosdevices/com5"
mkdir "$work/run" && cd "$work/run" || fail "no working folder"

run() { wine "$cli" --port COM5 "$@" 2>"$work/err" | tr -d '\r'; }
expect() { # expect NAME PATTERN TEXT
    grep -Eq -- "$2" <<<"$3" || fail "$1: no '$2' in: $3 $(cat "$work/err")"
}

info=$(run info)
expect info "Serial No\.: +123457" "$info"
expect info "Part Number: +471-524 271500-102" "$info"

before=$(run --json read-params orig.QPJ)
expect read-params '"BLOCK_VALID": *1' "$before"
[ -s orig.QPJ ] || fail "read-params kept no project file"

wrote=$(run write-params orig.QPJ)
expect write-params "^Wrote 34 parameters\.$" "$wrote"
after=$(run --json read-params)
[ "$before" = "$after" ] || fail "the parameters read back differ: $before / $after"

# A write that changes one value: FORWARD_OFFSET, the int32 at byte 8 of the working parameter
# block (which starts at byte 1280 of a project file), from the valve's 2 to 50.
expect read-params '"FORWARD_OFFSET": 2,' "$before"
cp orig.QPJ changed.QPJ
printf '\x32\x00\x00\x00' | dd of=changed.QPJ bs=1 seek=1288 conv=notrunc status=none
wrote=$(run write-params changed.QPJ)
expect write-params "^Wrote 34 parameters\.$" "$wrote"
changed=$(run --json read-params)
expect changed '"FORWARD_OFFSET": 50,' "$changed"
[ "${before/'"FORWARD_OFFSET": 2,'/'"FORWARD_OFFSET": 50,'}" = "$changed" ] ||
    fail "values other than FORWARD_OFFSET changed: $before / $changed"

run record --mode step --time 4 --csv step.csv rec.QPJ >/dev/null || fail "record: $(cat "$work/err")"
[ "$(wc -l <step.csv)" -gt 100 ] || fail "record: the CSV holds $(wc -l <step.csv) lines"

# Ctrl+C end to end: the launcher starts qln-cli.exe on a console of its own, writing to a slow
# valve on COM6 whose log tells when five values are in; a line to the launcher then sends the
# console's stop event. The write stops after the telegram on the line and says what the valve holds.
# The valve takes 0.15 s a reply: the stop comes seconds before the 34th value, and the replies still
# come well within the baud-rate probe's 0.3 s time-out.
mkfifo "$work/slow.out" "$work/go"
"$valve" --delay-ms 150 --log >"$work/slow.out" 2>&1 &
slow_pid=$!
exec 4<"$work/slow.out"
read -r -t 20 slow_pty <&4 || fail "the slow valve announced no terminal"
ln -sf "$slow_pty" "$WINEPREFIX/dosdevices/com6"
wine "$launcher" "$(winepath -w "$cli") --port COM6 write-params changed.QPJ" <"$work/go" \
    >"$work/stopped.out" 2>"$work/stopped.err" &
launcher_pid=$!
exec 5>"$work/go"
acks=0
while [ $acks -lt 5 ]; do
    read -r -t 20 line <&4 || fail "Ctrl+C: the slow valve's log ended after $acks acknowledged writes"
    case $line in *" tx 06 "*) acks=$((acks + 1)) ;; esac
done
echo >&5
wait $launcher_pid || fail "Ctrl+C: the launcher failed: $(cat "$work/stopped.out")"
stopped=$(tr -d '\r' <"$work/stopped.out")
stopped_err=$(tr -d '\r' <"$work/stopped.err")
expect Ctrl+C "^sent Ctrl\+(C|Break)$" "$stopped"
expect Ctrl+C "^exit 10$" "$stopped"
expect Ctrl+C "^qln-cli: stopped by Ctrl\+C after the telegram on the line\.$" "$stopped_err"
expect Ctrl+C "confirmed the first ([5-9]|[1-2][0-9]|3[0-3]) of the 34 new values" "$stopped_err"
expect Ctrl+C "mix of old and new values" "$stopped_err"

history=$(wine "$cli" --port COM5 --history sqlite:h.db info 2>&1 | tr -d '\r')
expect history "not available in this build" "$history"
echo "qln-cli.exe under wine: all checks passed in $(($(date +%s) - start)) s"
