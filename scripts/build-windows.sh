#!/usr/bin/env bash
# Cross-builds qln-cli.exe and the Windows unit tests into build-windows/ with mingw-w64 (64 bit,
# posix threads), linked statically so that the .exe runs alone. No Qt, no device database, no
# valve history in this build. When a Linux build's qln-valve exists (build/tools/valve/qln-valve),
# its end-to-end test under wine is set up too.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
valve=$PWD/build/tools/valve/qln-valve
cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake \
      -DCMAKE_BUILD_TYPE=Release -DQLN_WERROR=ON -DQLN_BUILD_UI=OFF -DQLN_BUILD_BENCH=OFF -DQLN_HISTORY=OFF \
      -DQLN_VALVE="$([ -x "$valve" ] && echo "$valve")" ${QLN_CMAKE_ARGS:-}
cmake --build build-windows --target qln-cli qln_windows_tests qln_console_ctrl_launcher
echo "built build-windows/tools/cli/qln-cli.exe"
