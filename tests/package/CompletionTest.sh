#!/usr/bin/env bash
# qln-cli's bash completion as bash runs it: bash-completion loaded, the packaged script sourced,
# the completion function called on literal command lines. The real qln-cli answers --help; its
# port list is a fixed one.   CompletionTest.sh SOURCE_DIR QLN_CLI   (77: no bash-completion)
set -uo pipefail
source_dir="$1" cli="$2"
framework=/usr/share/bash-completion/bash_completion
if [ ! -r "$framework" ]; then
  echo "SKIP: bash-completion is not installed"
  exit 77
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$work/folder/sub"
touch "$work/folder/a.QPJ" "$work/folder/b.txt"
cat > "$work/bin/qln-cli" <<STUB
#!/usr/bin/env bash
[ "\$1" = ports ] || exec "$cli" "\$@"
printf '%s\n' /dev/ttyS0 '  by-id: (none)' '  driver: serial8250' \\
  /dev/ttyUSB0 '  by-id: /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K1234-if00-port0' '  driver: ftdi_sio'
STUB
chmod +x "$work/bin/qln-cli"
export PATH="$work/bin:$PATH"

source "$framework"
source "$source_dir/packaging/qln-cli.bash-completion"
cd "$work/folder" || exit 1

# The sorted completions of a command line, the cursor at its end.
complete_line() {
  COMP_LINE="$1"
  COMP_POINT=${#COMP_LINE}
  read -r -a COMP_WORDS <<< "$COMP_LINE"
  [[ "$COMP_LINE" == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _qln_cli qln-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ' | sed 's/ $//'
}

failures=0
while IFS='|' read -r line expected; do
  got="$(complete_line "$line")"
  if [ "$got" != "$expected" ]; then
    echo "FAIL: '$line' completes to '$got', expected '$expected'" >&2
    failures=$((failures + 1))
  fi
done <<'CASES'
qln-cli re|read-matrix read-params record
qln-cli --port |COM1 COM2 COM3 COM4 COM5 COM6 COM7 COM8
qln-cli --baud 5|57600
qln-cli --device |/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K1234-if00-port0 /dev/ttyS0 /dev/ttyUSB0
qln-cli --history |off
qln-cli --port COM1 setpoint |off
qln-cli info --de|--device
qln-cli record --mo|--mode
qln-cli --json record --mode |ramp roll step
qln-cli record --csv -|-
qln-cli test-function |multistep off ramp step
qln-cli test-function ramp |a.QPJ sub
qln-cli write-params a.QPJ |
qln-cli --cal calibration s|start stop
qln-cli history t|take
qln-cli history take 3 |a.QPJ sub
qln-cli info |
CASES

[ "$failures" -eq 0 ] || { echo "$failures completion(s) wrong" >&2; exit 1; }
echo "qln-cli's bash completion checked"
