#!/usr/bin/env bash
# Installs what is missing, builds, and starts VORLAN with a PBX simulator beside it on
# 127.0.0.1:60010 (unless something already listens there); the simulator stops with VORLAN.
source "$(dirname "$0")/common.sh"
ensure_packages
build_preset default
cd "$ROOT"

# True when a connection to the address succeeds, whoever accepts it.
listening() { (exec 3<>"/dev/tcp/$1/$2") 2>/dev/null; }

sim_pid=""
stop_sim() {
  [ -n "$sim_pid" ] || return 0
  kill "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=""
}
trap stop_sim EXIT
trap 'stop_sim; exit 130' INT TERM

if listening 127.0.0.1 60010; then
  echo "Something already listens on 127.0.0.1:60010; using it as the exchange."
else
  ./build/tools/pbxsim/pbxsim --address 127.0.0.1 --port 60010 --new-every 5000 \
    >build/pbxsim.log 2>&1 &
  sim_pid=$!
  echo "PBX simulator on 127.0.0.1:60010 (trace in build/pbxsim.log)."
  echo "In VORLAN: host 127.0.0.1, Connect, then DownLoad."
fi

mkdir -p build/src/logs  # the program keeps its log files beside itself
./build/src/vorlan "$@"
