#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (address and undefined-behaviour sanitizers) and runs
# each for a fixed time from its seed corpus. Usage: scripts/fuzz.sh [SECONDS]   (default 60)
# New inputs found go to build-fuzz/corpus/<target>; a failing input is saved there as crash-*.
source "$(dirname "$0")/common.sh"
seconds=${1:-60}
ensure_packages clang libclang-rt-14-dev
build_preset fuzz
cd "$ROOT"
# The targets run side by side: each gets its full time, and the step takes that time once.
# The receive path syncs its log files on every reply: in memory (tmpfs) a sync costs nothing,
# on a disk it would hold the fuzzer to a few inputs a second.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then TMPDIR=/dev/shm; fi
pids=()
for target in "${FUZZ_TARGETS[@]}"; do
  name=${target%_fuzz}
  work="build-fuzz/corpus/$name"
  mkdir -p "$work"
  echo "== $target for ${seconds}s"
  TMPDIR=${TMPDIR:-/tmp} "build-fuzz/tests/fuzz/$target" -max_total_time="$seconds" \
    -rss_limit_mb=4000 -print_final_stats=1 -artifact_prefix="$work/" \
    "$work" "tests/fuzz/corpus/$name" 2>"$work.log" &
  pids+=($!)
done
passed=0
failed=0
for i in "${!FUZZ_TARGETS[@]}"; do
  target=${FUZZ_TARGETS[$i]}
  work="build-fuzz/corpus/${target%_fuzz}"
  if wait "${pids[$i]}"; then
    echo "$target:"; grep -E "stat::number_of_executed_units|stat::peak_rss_mb" "$work.log" || true
    passed=$((passed + 1))
  else
    echo "$target failed:"; tail -40 "$work.log"; failed=$((failed + 1))
  fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
