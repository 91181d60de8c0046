#!/usr/bin/env bash
# The collector's cost at rest beside a year of hourly log files (8,760), all of them stored:
# processor time over a minute, from /proc/PID/stat. No exchange answers (the collector
# retries every 60 s at most). Usage: bench/forwarder_idle.sh [FILES] [SECONDS]
set -euo pipefail
FILES=${1:-8760}
SECONDS_MEASURED=${2:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
collect="$root/build/src/collect/vorlan-collect"
source "$root/bench/store_server.sh" idle-bench

mkdir -m 700 "$work/logs"
python3 - "$work/logs" "$FILES" <<'PY'
import datetime, os, sys
folder, files = sys.argv[1], int(sys.argv[2])
start = datetime.datetime(2025, 1, 1)
for n in range(files):
    at = start + datetime.timedelta(hours=n)
    stamp = at.strftime("%Y%m%d%H%M%S")
    with open(os.path.join(folder, at.strftime("%m%d%H%M") + ".log"), "wb") as f:
        for i in range(5):
            f.write(b"\x02" + b"00AB06%02d" % 29 + stamp.encode() + b"..." + stamp.encode() + b"\x03\r\n")
    old = (at - datetime.datetime(1970, 1, 1)).total_seconds()
    os.utime(os.path.join(folder, at.strftime("%m%d%H%M") + ".log"), (old, old))
PY
"$collect" --host 127.0.0.254 --logs "$work/logs" --store "$conn" --exchange idle --quiet &
pid=$!
pids+=("$pid")
rows=0
for _ in $(seq 600); do
  rows=$(psql -c "SELECT count(*) FROM calls" 2>/dev/null || echo 0)
  [ "$rows" -ge $((FILES * 5)) ] && break
  sleep 1
done
echo "rows stored: $rows of $((FILES * 5))"
sleep 5
ticks() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
hz=$(getconf CLK_TCK)
before=$(ticks)
sleep "$SECONDS_MEASURED"
after=$(ticks)
echo "$FILES files, at rest: $((after - before)) ticks in ${SECONDS_MEASURED} s ($hz a second):" \
  "$(python3 -c "print(f'{100 * ($after - $before) / $hz / $SECONDS_MEASURED:.2f}')") % of a core"
