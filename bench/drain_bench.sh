#!/usr/bin/env bash
# How fast a backlog drains: the exchange holds REPLIES records and sends one per data reply.
# vorlan-collect (no lamps, no pace) drains all of them; the window's pace (three 50 ms lamp
# flashes per reply) is measured by download_bench over 200 replies in the same run.
# TRACE=1 runs both with the traffic trace on (download_bench VORLAN_TRACE=1, vorlan-collect --trace).
# Usage: bench/drain_bench.sh [REPLIES]   (build first: cmake --preset bench && cmake --build --preset bench)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
REPLIES=${1:-10000}
BUILD=${BUILD:-$ROOT/build-bench}
address=${ADDRESS:-127.0.4.2}
work=$(mktemp -d /tmp/vorlan-drain-bench-XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

echo "== the window's pace: download_bench"
VORLAN_TRACE=${TRACE:-} "$BUILD/bench/download_bench" | tee "$work/window.txt"
window_measured=$(awk '/^measured:/ {print $2}' "$work/window.txt")
window_records=$(awk '/^records:/ {print $2}' "$work/window.txt")

echo "== vorlan-collect: a backlog of $REPLIES one-record replies"
"$BUILD/tools/pbxsim/pbxsim" --address $address --seed 5 --records "$REPLIES" --per-reply 1 \
  --quiet >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 600); do
  (exec 3<>/dev/tcp/$address/60010) 2>/dev/null && break
  sleep 0.1
done
mkdir "$work/logs"
start=$(date +%s.%N)
"$BUILD/src/collect/vorlan-collect" --host $address --logs "$work/logs" ${TRACE:+--trace} 2>"$work/collect.err" &
collector=$!
pids+=($collector)
lines=0
for _ in $(seq 12000); do
  lines=$(cat "$work"/logs/*.log 2>/dev/null | grep -c $'\x03' || true)
  [ "$lines" -ge "$REPLIES" ] && break
  sleep 0.05
done
seconds=$(echo "$(date +%s.%N) - $start" | bc)
kill -TERM $collector
wait $collector || true
echo "records logged: $lines of $REPLIES"
echo "collector: $lines records in $seconds s: $(echo "$lines / $seconds" | bc) records/s"
window_rate=$(echo "scale=1; $window_records / $window_measured" | bc)
echo "window: $window_rate records/s; $REPLIES records would take $(echo "scale=0; $REPLIES / $window_rate" | bc) s"
echo "collector / window: $(echo "scale=1; $lines / $seconds / $window_rate" | bc)"
[ "$lines" -ge "$REPLIES" ]
