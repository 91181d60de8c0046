#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test headless.
# Usage: scripts/test.sh [asan]   (asan: the address and undefined-behaviour sanitizer build)
source "$(dirname "$0")/common.sh"
preset=${1:-default}
ensure_packages
build_preset "$preset"
cd "$ROOT"
# Twice the cores: the end-to-end suites mostly wait on real programs and the clock.
QT_QPA_PLATFORM=offscreen ctest --preset "$preset" -j "$(($(nproc) * 2))"
