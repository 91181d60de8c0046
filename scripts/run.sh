#!/usr/bin/env bash
# Installs what is missing, builds, and starts VORLAN.
source "$(dirname "$0")/common.sh"
ensure_packages
build_preset default
cd "$ROOT"
exec ./build/src/vorlan "$@"
