#!/usr/bin/env bash
# Builds the Debian package of qln and runs the ecosystem's checks over it (lintian,
# desktop-file-validate, appstreamcli validate: scripts/check-package.sh); fails on any complaint.
# Prints the package's path on the last line.
#   bash scripts/package.sh                       sets up the machine, builds a Release tree in
#                                                 build-release/ and packs it there
#   QLN_BUILD_DIR=build bash scripts/package.sh   packs a tree that is already built (CI: the one
#                                                 the tests ran in), without a second build
#   sudo apt-get install ./build-release/package/qln_<version>_<arch>.deb   installs it
set -euo pipefail
cd "$(dirname "$0")/.."
build="${QLN_BUILD_DIR:-}"
if [ -z "$build" ]; then
  build=build-release
  bash scripts/setup.sh
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DQLN_BUILD_TESTS=OFF -DQLN_BUILD_BENCH=OFF ${QLN_CMAKE_ARGS:-}
fi
cmake --build "$build"

out="$PWD/$build/package"
rm -rf "$out"
cpack --config "$build/CPackConfig.cmake" -B "$out" -G DEB > "$out.log" 2>&1 || { cat "$out.log" >&2; exit 1; }
shopt -s nullglob
debs=("$out"/*.deb)
if [ "${#debs[@]}" -ne 1 ]; then
  echo "package.sh: expected one .deb in $out, found ${#debs[@]}" >&2
  exit 1
fi
bash scripts/check-package.sh "${debs[0]}" >&2
echo "${debs[0]}"
