#!/usr/bin/env bash
# Sets up the machine, builds with warnings as errors and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
QLN_CMAKE_ARGS="-DQLN_WERROR=ON" bash scripts/build.sh
bash scripts/check-format.sh
ctest --test-dir build --output-on-failure -j2
