#!/usr/bin/env bash
# Builds the Debian package of qln: sets up the machine, builds a Release tree in build-release/
# and lets CPack make the .deb there. Prints the package's path on the last line.
#   sudo apt-get install ./build-release/package/qln_<version>_<arch>.deb   installs it
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DQLN_BUILD_TESTS=OFF -DQLN_BUILD_BENCH=OFF ${QLN_CMAKE_ARGS:-}
cmake --build build-release

out="$PWD/build-release/package"
rm -rf "$out"
cpack --config build-release/CPackConfig.cmake -B "$out" -G DEB
shopt -s nullglob
debs=("$out"/*.deb)
if [ "${#debs[@]}" -ne 1 ]; then
  echo "package.sh: expected one .deb in $out, found ${#debs[@]}" >&2
  exit 1
fi
echo "${debs[0]}"
