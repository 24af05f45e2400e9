#!/usr/bin/env bash
# Sets up the machine, builds, and reads the valve information and all parameters
# from the built-in simulated valve.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
./build/tools/cli/qln-cli --test-mode info
./build/tools/cli/qln-cli --test-mode read-params
