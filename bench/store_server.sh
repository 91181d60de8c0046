# Sourced by the store's benchmarks: a PostgreSQL server of their own in a new folder $work
# (default settings, fsync on), stopped and removed at exit with the processes in $pids.
# Gives PGBIN, work, conn and psql (quiet, unaligned).
# Usage: source "$(dirname "$0")/store_server.sh" NAME
PGBIN=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -1)
work=$(mktemp -d "/tmp/vorlan-$1-XXXXXX")
as_pg() { if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi; }
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  as_pg "$PGBIN/pg_ctl" -D "$work/data" stop -m immediate >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
[ "$(id -u)" -eq 0 ] && chown postgres: "$work"
as_pg "$PGBIN/initdb" -D "$work/data" -U postgres -A trust -E UTF8 --locale=C >/dev/null
as_pg "$PGBIN/pg_ctl" -D "$work/data" -l "$work/server.log" -w -t 60 \
  -o "-k $work -c listen_addresses=''" start >/dev/null
conn="host=$work user=postgres dbname=postgres"
psql() { command psql -X -q -At "$conn" "$@"; }
