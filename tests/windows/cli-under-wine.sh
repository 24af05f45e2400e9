#!/bin/bash
# qln-cli.exe under wine against the virtual valve: the valve's pseudo-terminal is wine's COM5, and
# the Windows program finds it as \\.\COM5 with no settings file at all.
#   cli-under-wine.sh QLN-CLI.EXE QLN-VALVE
set -u
cli=$1
valve=$2
work=$(mktemp -d)
valve_pid=
cleanup() {
    [ -n "$valve_pid" ] && kill "$valve_pid" 2>/dev/null && wait "$valve_pid" 2>/dev/null
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

history=$(wine "$cli" --port COM5 --history sqlite:h.db info 2>&1 | tr -d '\r')
expect history "not available in this build" "$history"
echo "qln-cli.exe under wine: all checks passed in $(($(date +%s) - start)) s"
