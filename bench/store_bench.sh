#!/usr/bin/env bash
# The call store's figures, on this machine, against a PostgreSQL server of its own (default
# settings, fsync on): vorlan-load (COPY) of RECORDS records from log files into an empty table
# against the same rows as one INSERT each in autocommit; the forwarder's lag under a steady
# 100 records per second; vorlan-collect's memory over a long download.
# Usage: bench/store_bench.sh [RECORDS] [INSERTS] [LAG_SECONDS] [MEMORY_RECORDS]
#   INSERTS: how many of the rows go through single INSERTs (default: all of them)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
RECORDS=${1:-1000000}
INSERTS=${2:-$RECORDS}
LAG_SECONDS=${3:-60}
MEMORY_RECORDS=${4:-100000}
BUILD=${BUILD:-$ROOT/build}
source "$ROOT/bench/store_server.sh" store-bench

# Log files as the collector writes them, 100,000 records an hour, every record distinct.
mkdir "$work/logs"
python3 - "$work/logs" "$RECORDS" <<'PY'
import datetime, sys
folder, total = sys.argv[1], int(sys.argv[2])
start = datetime.datetime(2024, 1, 15, 8, 0, 0)
def item(kind, data):
    return b"%02d%02d" % (kind, len(data)) + data
out = None
for i in range(total):
    if i % 100000 == 0:
        if out: out.close()
        out = open("%s/%s.log" % (folder, (start + datetime.timedelta(hours=i // 100000)).strftime("%m%d%H%M")), "wb")
    begin = start + datetime.timedelta(seconds=i * 3)
    end = begin + datetime.timedelta(seconds=7 + i % 600)
    stamps = begin.strftime("%Y%m%d%H%M%S").encode() + b".-." + end.strftime("%Y%m%d%H%M%S").encode()
    record = (b"\x02" + b"%02d" % (i % 100) + b"01" + item(1, b"%d" % (2000 + i % 900)) +
              item(2, b"0%09d" % (i * 7919 % 10**9)) + item(4, b"TRUNK.%02d" % (i % 24)) +
              item(6, stamps) + b"\x03")
    out.write((b"<BAD>:" if (7 + i % 600) > 120 else b"") + record + b"\r\n")
out.close()
PY

echo "== COPY: vorlan-load of $RECORDS records into an empty table"
# Processor seconds, which other work on the machine does not stretch: the shell's children
# (the loader) and the server's ended processes (its backend), from /proc.
# (times in this shell itself: in a subshell it counts the subshell's children)
children_cpu() { awk 'END {split($1, u, /[ms]/); split($2, s, /[ms]/); print u[1] * 60 + u[2] + s[1] * 60 + s[2]}' "$1"; }
server_cpu() {
  awk -v hz="$(getconf CLK_TCK)" '{print ($16 + $17) / hz}' "/proc/$(as_pg head -1 "$work/data/postmaster.pid")/stat"
}
times > "$work/times.before"
server_before=$(server_cpu)
start=$(date +%s.%N)
"$BUILD/tools/vorlan-load/vorlan-load" --store "$conn" --exchange bench --time-zone UTC "$work"/logs/*.log
copy_seconds=$(echo "$(date +%s.%N) - $start" | bc)
copy_rate=$(echo "$RECORDS / $copy_seconds" | bc)
echo "COPY: $RECORDS records in ${copy_seconds} s: $copy_rate records/s"
times > "$work/times.after"
echo "COPY processor time: loader $(echo "$(children_cpu "$work/times.after") - $(children_cpu "$work/times.before")" | bc) s, server $(echo "$(server_cpu) - $server_before" | bc) s"

echo "== INSERT: $INSERTS of the same rows, one INSERT each, autocommit"
psql -c "COPY (SELECT format('INSERT INTO calls (exchange, record, marked_bad, call_type, started_at, ended_at, talk_seconds, items, log_file, log_line) VALUES (%L, %L, %L, %L, %L, %L, %L, %L, %L, %L);', exchange, record, marked_bad, call_type, started_at, ended_at, talk_seconds, items, log_file, log_line) FROM calls ORDER BY id LIMIT $INSERTS) TO STDOUT" > "$work/inserts.sql"
psql -c "TRUNCATE calls"
start=$(date +%s.%N)
psql -f "$work/inserts.sql"
insert_seconds=$(echo "$(date +%s.%N) - $start" | bc)
insert_rate=$(echo "$INSERTS / $insert_seconds" | bc)
echo "INSERT: $INSERTS records in ${insert_seconds} s: $insert_rate records/s"
echo "COPY / INSERT: $(echo "scale=1; $copy_rate / $insert_rate" | bc)"
rm "$work/inserts.sql"
psql -c "TRUNCATE calls; TRUNCATE store_positions"

echo "== forwarder lag: 100 records/s for $LAG_SECONDS s"
address=127.0.214.1
"$BUILD/tools/pbxsim/pbxsim" --address $address --records 1 --new-every 10 --per-reply 50 --quiet >/dev/null 2>&1 &
pids+=($!)
sleep 0.5
"$BUILD/src/collect/vorlan-collect" --host $address --logs "$work/lag" --store "$conn" --exchange lag 2>"$work/lag.err" &
collector=$!
pids+=($collector)
python3 - "$work/lag" "$conn" "$LAG_SECONDS" <<'PY'
import glob, subprocess, sys, time
folder, conn, seconds = sys.argv[1], sys.argv[2], float(sys.argv[3])
logged, stored = [], []  # (time, count)
db = subprocess.Popen(["psql", "-X", "-q", "-At", conn], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, bufsize=1)
end = time.time() + seconds
while time.time() < end:
    n = sum(open(f, "rb").read().count(b"\x03\r\n") for f in glob.glob(folder + "/*.log"))
    t = time.time()
    db.stdin.write("SELECT count(*) FROM calls;\n"); rows = int(db.stdout.readline())
    logged.append((t, n)); stored.append((time.time(), rows))
    time.sleep(0.02)
# For each record k: when it was first seen in the log, and when first seen in the table.
def first_seen(samples):
    seen, k = {}, 0
    for t, n in samples:
        while k < n:
            k += 1; seen[k] = t
    return seen
log_at, db_at = first_seen(logged), first_seen(stored)
lags = sorted(db_at[k] - log_at[k] for k in db_at if k in log_at)
total = logged[-1][1]
print("records logged: %d (%.0f/s); in the table: %d" % (total, total / seconds, stored[-1][1]))
if lags:
    print("lag from log to table: median %.3f s, 99th percentile %.3f s, max %.3f s (sampling every ~20 ms)"
          % (lags[len(lags) // 2], lags[int(len(lags) * 0.99)], lags[-1]))
PY
kill "$collector"; wait "$collector" || true
kill "${pids[0]}" 2>/dev/null || true
pids=()

echo "== memory: vorlan-collect --store over $MEMORY_RECORDS records"
address=127.0.214.2
"$BUILD/tools/pbxsim/pbxsim" --address $address --records "$MEMORY_RECORDS" --per-reply 400 --quiet >/dev/null 2>&1 &
pids+=($!)
sleep 0.5
"$BUILD/src/collect/vorlan-collect" --host $address --logs "$work/memory" --store "$conn" --exchange memory --quiet &
collector=$!
pids+=($collector)
samples=()
while :; do
  rows=$(psql -c "SELECT count(*) FROM calls WHERE exchange = 'memory'")
  rss=$(awk '/VmRSS/ {print $2}' /proc/$collector/status)
  samples+=("$rows:$rss")
  [ "$rows" -ge "$MEMORY_RECORDS" ] && break
  sleep 5
done
echo "rows:RSS kB every 5 s: ${samples[*]}"
kill "$collector"; wait "$collector" || true
