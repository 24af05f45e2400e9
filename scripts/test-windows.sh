#!/usr/bin/env bash
# The Windows build's tests under wine (label `wine`): the unit tests built for Windows, and
# qln-cli.exe reading and writing the virtual valve through wine's COM5. Needs the Linux qln-valve,
# which it builds in build/ first.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ ! -d build ]; then
  bash scripts/setup.sh
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQLN_WERROR=ON ${QLN_CMAKE_ARGS:-}
fi
cmake --build build --target qln-valve
bash scripts/build-windows.sh
ctest --test-dir build-windows -L wine --output-on-failure --timeout 300
