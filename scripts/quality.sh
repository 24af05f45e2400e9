#!/usr/bin/env bash
# What CI runs after the normal suite: the whole suite under AddressSanitizer + UBSan and under
# ThreadSanitizer, then every fuzz target for a bounded time. Assumes scripts/setup.sh has run.
#   FUZZ_SECONDS=60 (default) limits each fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
FUZZ_SECONDS="${FUZZ_SECONDS:-60}"

for preset in asan tsan; do
  echo "== $preset"
  cmake --preset "$preset" -DQLN_WERROR=ON > /dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset" -j2
done

echo "== fuzz"
cmake --preset fuzz > /dev/null
cmake --build --preset fuzz
for target in build-fuzz/fuzz/fuzz_*; do
  name="$(basename "$target")"
  corpus="fuzz/corpus/${name#fuzz_}"
  work="$(mktemp -d)"
  echo "-- $name (${FUZZ_SECONDS}s)"
  # New inputs go to a scratch folder; the seed corpus in the repository stays as it is.
  if ! "$target" -max_total_time="$FUZZ_SECONDS" -print_final_stats=1 -artifact_prefix="$work/" \
      "$work" "$corpus" > "$work/log" 2>&1; then
    tail -n 60 "$work/log"
    echo "$name found a crash; the input is in $work" >&2
    exit 1
  fi
  grep -E '^stat::number_of_executed_units' "$work/log" || true
  rm -rf "$work"
done
echo "quality checks passed"
