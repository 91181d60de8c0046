#!/usr/bin/env bash
# How fast a backlog drains: the exchange holds RECORDS records and sends PER_REPLY per data reply.
# vorlan-collect (no lamps, no pace) drains all of them; the window's pace (three 50 ms lamp
# flashes per reply) is measured by download_bench over 200 replies in the same run. The drain
# runs twice: as it is, then with metrics on and a scrape every second, for their cost.
# TRACE=1 runs all of it with the traffic trace on (download_bench VORLAN_TRACE=1, vorlan-collect
# --trace); ADDRESS= gives the simulator another loopback address.
# Beside it, this machine's floor for one reply (one fdatasync in the log folder's file system and
# one loopback round trip, from link_floor), and the collector's cycle per reply against it.
# Usage: bench/drain_bench.sh [RECORDS] [PER_REPLY]   (build first: cmake --preset bench && cmake --build --preset bench)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
REPLIES=${1:-10000}
PER_REPLY=${2:-1}
BUILD=${BUILD:-$ROOT/build-bench}
address=${ADDRESS:-127.0.8.2}
work=$(mktemp -d /tmp/vorlan-drain-bench-XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# A build without the benchmarks (BUILD=build) measures the collector alone.
if [ -x "$BUILD/bench/download_bench" ]; then
  echo "== the window's pace: download_bench"
  VORLAN_TRACE=${TRACE:-} "$BUILD/bench/download_bench" | tee "$work/window.txt"
  window_measured=$(awk '/^measured:/ {print $2}' "$work/window.txt")
  window_records=$(awk '/^records:/ {print $2}' "$work/window.txt")
fi

# One drain: a fresh simulator with the same backlog, the collector with the options given.
# Sets lines, seconds, cpu (s) and resident (KiB), at the end of the drain.
drain() {
  "$BUILD/tools/pbxsim/pbxsim" --address $address --seed 5 --records "$REPLIES" --per-reply "$PER_REPLY" \
    --quiet >/dev/null 2>&1 &
  local sim=$!
  pids+=($sim)
  for _ in $(seq 600); do
    (exec 3<>/dev/tcp/$address/60010) 2>/dev/null && break
    sleep 0.1
  done
  rm -rf "$work/logs" && mkdir "$work/logs"
  start=$(date +%s.%N)
  "$BUILD/src/collect/vorlan-collect" --host $address --logs "$work/logs" ${TRACE:+--trace} "$@" 2>"$work/collect.err" &
  collector=$!
  pids+=($collector)
  local scraper=""
  if [ $# -gt 0 ]; then  # with metrics: Prometheus' scrape, every second
    (
      for _ in $(seq 100); do grep -q 'metrics at' "$work/collect.err" && break; sleep 0.05; done
      url=$(grep -o 'http://[^ ]*/metrics' "$work/collect.err")
      while kill -0 $collector 2>/dev/null; do curl -s -o /dev/null -m 2 "$url" || true; sleep 1; done
    ) &
    scraper=$!
  fi
  lines=0
  for _ in $(seq 12000); do
    lines=$(cat "$work"/logs/*.log 2>/dev/null | grep -c $'\x03' || true)
    [ "$lines" -ge "$REPLIES" ] && break
    sleep 0.05
  done
  seconds=$(echo "$(date +%s.%N) - $start" | bc)
  resident=$(awk '/^VmRSS:/ {print $2}' /proc/$collector/status)
  # Processor time, user and system, which a busy machine disturbs less than the wall clock.
  cpu=$(awk -v hz="$(getconf CLK_TCK)" '{printf "%.2f", ($14 + $15) / hz}' /proc/$collector/stat)
  kill -TERM $collector
  wait $collector || true
  [ -z "$scraper" ] || wait $scraper || true
  kill $sim 2>/dev/null || true
  wait $sim 2>/dev/null || true
}

# The disk of a busy machine varies from one minute to the next: the floor is measured just
# before and just after the drain, and their mean is the one compared with.
floor=""
measure_floor() {
  [ -x "$BUILD/bench/link_floor" ] || return 0
  echo "== this machine's floor for one reply ($1 the drain)"
  "$BUILD/bench/link_floor" "$work" 127.0.8.9 | tee -a "$work/floor.txt"
}
measure_floor before

echo "== vorlan-collect: a backlog of $REPLIES records, $PER_REPLY per reply"
drain
plain_lines=$lines plain_seconds=$seconds plain_cpu=$cpu
measure_floor after
[ -s "$work/floor.txt" ] && floor=$(awk '/^floor:/ {s += $2; n++} END {printf "%.3f", s / n}' "$work/floor.txt")
[ -s "$work/floor.txt" ] && listed=$(awk '/^with where it lies:/ {s += $(NF - 1); n++} END {if (n) printf "%.3f", s / n}' "$work/floor.txt")
echo "records logged: $lines of $REPLIES"
echo "collector: $lines records in $seconds s: $(echo "$lines / $seconds" | bc) records/s; processor $cpu s; resident $resident KiB"
replies=$(( (REPLIES + PER_REPLY - 1) / PER_REPLY ))
cycle=$(echo "scale=3; $seconds * 1000 / $replies" | bc)
echo "cycle: $cycle ms per reply${floor:+; floor $floor ms; $(echo "scale=2; $cycle / $floor" | bc) x the floor}"
[ -z "${listed:-}" ] || echo "against the floor with where the reply lies (two syncs and a round trip, $listed ms): $(echo "scale=2; $cycle / $listed" | bc) x"
echo "== the same with metrics on, scraped every second"
drain --metrics $address:0
echo "records logged: $lines of $REPLIES"
echo "collector: $lines records in $seconds s: $(echo "$lines / $seconds" | bc) records/s; processor $cpu s; resident $resident KiB"
echo "with metrics / without: $(echo "scale=3; $seconds / $plain_seconds" | bc) of the time, $(echo "scale=3; $cpu / $plain_cpu" | bc) of the processor time"
if [ -n "${window_measured:-}" ]; then
  window_rate=$(echo "scale=1; $window_records / $window_measured" | bc)
  echo "window: $window_rate records/s; $REPLIES records would take $(echo "scale=0; $REPLIES / $window_rate" | bc) s"
  echo "collector / window: $(echo "scale=1; $plain_lines / $plain_seconds / $window_rate" | bc)"
fi
[ "$plain_lines" -ge "$REPLIES" ] && [ "$lines" -ge "$REPLIES" ]
