#!/usr/bin/env bash
# The call store at scale, on this machine, against a PostgreSQL server of its own (default
# settings, fsync on): CALLS calls over EXCHANGES exchanges and MONTHS months (ending two
# months before this one), written as daily log files and loaded with vorlan-load, one
# exchange after the other, as a site loads its history. Then each query of the README, warm
# (the best of 5 runs), for one exchange over one month and for all exchanges over one day;
# the drop of the oldest month; the load rate; the size on disk per million calls.
# Usage: bench/store_scale.sh [CALLS] [EXCHANGES] [MONTHS]   (default 10000000 100 24)
#   LOAD_SECONDS=N: no exchange is started after N seconds of loading; the rest is timed over
#   what was loaded, and the rate tells how long the whole load would take.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
CALLS=${1:-10000000}
EXCHANGES=${2:-100}
MONTHS=${3:-24}
BUILD=${BUILD:-$ROOT/build}
source "$ROOT/bench/store_server.sh" store-scale

first=$(date -d "$(date +%Y-%m-01) -$((MONTHS + 1)) months" +%Y-%m-01)
echo "== $CALLS calls, $EXCHANGES exchanges, $MONTHS months from $first"
mkdir "$work/logs"
python3 - "$work/logs" "$CALLS" "$EXCHANGES" "$MONTHS" "$first" <<'PY'
import datetime, os, sys
folder, calls, exchanges, months, first = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4]), sys.argv[5]
start = datetime.datetime.strptime(first, "%Y-%m-%d")
y, m = start.year + (start.month - 1 + months) // 12, (start.month - 1 + months) % 12 + 1
span = (datetime.datetime(y, m, 1) - start).total_seconds()
per = calls // exchanges
def item(kind, data):
    return b"%02d%02d" % (kind, len(data)) + data
for x in range(exchanges):
    day, out = None, None
    for i in range(per):
        begin = start + datetime.timedelta(seconds=int(span * i / per) + x)
        if begin.date() != day:
            if out: out.close()
            day = begin.date()
            path = "%s/x%03d/%d/%s.log" % (folder, x, day.year, begin.strftime("%m%d0000"))
            os.makedirs(os.path.dirname(path), exist_ok=True)
            out = open(path, "wb")
        talk = 7 + (i * 37 + x) % 900
        end = begin + datetime.timedelta(seconds=talk)
        stamps = begin.strftime("%Y%m%d%H%M%S").encode() + b".-." + end.strftime("%Y%m%d%H%M%S").encode()
        record = (b"\x02" + b"%02d" % (i % 100) + b"01" + item(1, b"%d" % (2000 + i % 900)) +
                  item(2, b"0%09d" % (i * 7919 % 10**9)) + item(4, b"TRUNK.%02d" % (i % 24)) +
                  item(6, stamps) + b"\x03")
        out.write((b"<BAD>:" if talk > 850 else b"") + record + b"\r\n")
    out.close()
PY

echo "== load: vorlan-load, one exchange after the other"
start=$(date +%s.%N)
loaded=0
for folder in "$work"/logs/x*; do
  if [ -n "${LOAD_SECONDS:-}" ] && [ "$(echo "$(date +%s.%N) - $start > $LOAD_SECONDS" | bc)" = 1 ]; then
    echo "load stopped after $LOAD_SECONDS s: $loaded of $EXCHANGES exchanges"
    break
  fi
  "$BUILD/tools/vorlan-load/vorlan-load" --store "$conn" --exchange "$(basename "$folder")" \
    --time-zone UTC "$folder"/*/*.log >/dev/null
  loaded=$((loaded + 1))
  if [ $((loaded % 10)) -eq 0 ]; then
    echo "$loaded exchanges after $(echo "$(date +%s.%N) - $start" | bc) s"
  fi
done
seconds=$(echo "$(date +%s.%N) - $start" | bc)
rows=$(psql -c "SELECT count(*) FROM calls")
echo "load: $rows calls in $seconds s: $(echo "$rows / $seconds" | bc) calls/s"
psql -c "VACUUM ANALYZE"
bytes=$(psql -c "SELECT pg_database_size(current_database())")
psql -c "SELECT 'tables ' || round(sum(pg_table_size(c.oid)) * 1000000 / $rows / 1048576, 1)
  || ' MiB, indexes ' || round(sum(pg_indexes_size(c.oid)) * 1000000 / $rows / 1048576, 1)
  || ' MiB per million calls'
  FROM pg_class c WHERE c.relkind = 'r' AND c.relnamespace = 'public'::regnamespace"
echo "size: $((bytes / 1048576)) MiB, $(echo "scale=1; $bytes * 1000000 / $rows / 1048576" | bc) MiB per million calls"

month=$(date -d "$first +$((MONTHS / 2)) months" +%Y-%m-01)
next=$(date -d "$month +1 month" +%Y-%m-01)
day=$(date -d "$month +14 days" +%Y-%m-%d)
dayafter=$(date -d "$day +1 day" +%Y-%m-%d)
one=x042
[ "$EXCHANGES" -gt 42 ] || one=x000
time_query() {  # the best of 5 warm runs, in ms
  local label=$1 sql=$2
  local best
  best=$( { echo '\timing on'; for _ in 1 2 3 4 5 6; do echo "SELECT count(*) FROM ($sql) q;"; done; } |
    command psql -X -q "$conn" 2>&1 | awk '/^Time:/ {n++; if (n > 1 && (best == "" || $2 < best)) best = $2} END {print best}')
  printf '%-60s %8s ms  (%s rows)\n' "$label" "$best" "$(psql -c "SELECT count(*) FROM ($sql) q")"
  # What it reads: the scans of its plan, by kind and index.
  psql -c "EXPLAIN (COSTS OFF) $sql" | grep -oE '(Seq Scan|Index Only Scan|Index Scan|Bitmap Index Scan)( (using|on) [a-z0-9_]+)?' |
    sed -E 's/ (using|on) calls_([0-9]{4}_[0-9]{2}|no_start)_/ \1 /' | sort | uniq -c | sed 's/^ */    /'
}
echo "== queries, warm: one exchange ($one) over $month's month, all exchanges over $day"
time_query "calls per hour, one exchange, one month" "SELECT * FROM hourly_calls('$month', '$next', '$one')"
time_query "calls per hour, all exchanges, one day" "SELECT * FROM hourly_calls('$day', '$dayafter')"
time_query "calls per day, one exchange, one month" "SELECT * FROM daily_calls('$month', '$next', '$one')"
time_query "calls per day, all exchanges, one day" "SELECT * FROM daily_calls('$day', '$dayafter')"
time_query "long calls (> 10 min), one exchange, one month" "SELECT * FROM long_calls(600, '$month', '$next', '$one')"
time_query "long calls (> 10 min), all exchanges, one day" "SELECT * FROM long_calls(600, '$day', '$dayafter')"
time_query "an extension's calls, one exchange, one month" "SELECT * FROM calls_with_item(1, '2042', '$month', '$next', '$one')"
time_query "an extension's calls, all exchanges, one day" "SELECT * FROM calls_with_item(1, '2042', '$day', '$dayafter')"
time_query "a trunk's calls, one exchange, one month" "SELECT * FROM calls_with_item(4, 'TRUNK.07', '$month', '$next', '$one')"
time_query "a trunk's calls, all exchanges, one day" "SELECT * FROM calls_with_item(4, 'TRUNK.07', '$day', '$dayafter')"
time_query "a dialled number's calls, one exchange, one month" "SELECT * FROM calls_with_item(2, '0000007919', '$month', '$next', '$one')"
time_query "a dialled number's calls, all exchanges, one day" "SELECT * FROM calls_with_item(2, '0000007919', '$day', '$dayafter')"

echo "== drop of the oldest month"
start=$(date +%s.%N)
"$BUILD/tools/vorlan-load/vorlan-load" --store "$conn" --drop-before "$(date -d "$first +1 month" +%Y-%m)"
echo "drop: $(echo "($(date +%s.%N) - $start) * 1000 / 1" | bc) ms"
