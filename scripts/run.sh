#!/usr/bin/env bash
# Builds and starts the desktop program qln connected to the virtual valve qln-valve, in the
# folder run/ (where its settings files, the help file QLN.HLP and, with -LOG, its trace log
# debug.txt are kept).
#   bash scripts/run.sh            qln on COM1, which QLN_com.ini maps to the virtual valve
#   bash scripts/run.sh -TESTSIO   qln with its built-in simulated valve (no qln-valve)
# Further arguments go to qln (-LOG, -CAL).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
mkdir -p run
cd run

# The user guide behind F1 lies in the program folder. A copy the user keeps there stays; the
# copy goes through a temporary file, so an interrupted start never leaves half a guide behind.
if [ ! -e QLN.HLP ]; then
  cp ../docs/QLN.HLP QLN.HLP.tmp && mv -f QLN.HLP.tmp QLN.HLP
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "qln is a desktop program and this machine has no display (DISPLAY is not set)." >&2
  echo "Run it under a virtual display instead:  xvfb-run -a bash scripts/run.sh $*" >&2
  exit 1
fi

case " $* " in
  *" -TESTSIO "*|*" -testsio "*)
    exec ../build/src/qln "$@" ;;
esac

../build/tools/valve/qln-valve --link "$PWD/ttyQLN" > valve.out &
VALVE=$!
trap 'kill $VALVE 2>/dev/null || true' EXIT
for _ in $(seq 1 50); do [ -e ttyQLN ] && break; sleep 0.1; done

# COM1 stands for the virtual valve's terminal; the user's port choice and other lines stay.
if [ ! -f QLN_com.ini ]; then
  printf '[SERIAL-PORT]\r\nPORT=COM1\r\n' > QLN_com.ini
fi
if grep -qi '^\[DEVICES\]' QLN_com.ini; then
  grep -qi '^COM1=' QLN_com.ini && sed -i "s|^[Cc][Oo][Mm]1=.*|COM1=$PWD/ttyQLN\r|" QLN_com.ini \
    || sed -i "s|^\[DEVICES\].*|&\nCOM1=$PWD/ttyQLN\r|I" QLN_com.ini
else
  printf '\r\n[DEVICES]\r\nCOM1=%s\r\n' "$PWD/ttyQLN" >> QLN_com.ini
fi
../build/src/qln "$@"
