#!/usr/bin/env bash
# Packs qln-cli-windows.zip: qln-cli.exe (built by build-windows.sh), the user guide QLN.HLP and
# a short README for Windows users.
set -euo pipefail
cd "$(dirname "$0")/.."
[ -f build-windows/tools/cli/qln-cli.exe ] || bash scripts/build-windows.sh
stage=build-windows/package/qln-cli
rm -rf build-windows/package && mkdir -p "$stage"
cp build-windows/tools/cli/qln-cli.exe docs/QLN.HLP "$stage/"
cat >"$stage/README.txt" <<'TEXT'
qln-cli for Windows
===================

qln-cli.exe reads, edits and writes the parameters of the flow-control valve on a serial port,
shows its identity and status, and records its signals, from the command line and from scripts.
It needs nothing else installed: copy it into a folder and run it from a console there.

  qln-cli.exe --port COM1 info
  qln-cli.exe --port COM3 read-params valve.QPJ
  qln-cli.exe --help

COM1..COM8 mean the system's ports \\.\COM1..\\.\COM8. Another port (COM12, say) is named in
QLN_com.ini in the current folder:

  [DEVICES]
  COM2=\\.\COM12

The valve history is not available in this build: --history accepts only "off".
QLN.HLP is the user guide. Ctrl+C stops a running command after the telegram on the line.
TEXT
# The README as Windows editors expect it.
sed -i 's/$/\r/' "$stage/README.txt"
(cd build-windows/package && cmake -E tar cf ../../qln-cli-windows.zip --format=zip qln-cli)
echo "packed qln-cli-windows.zip"
