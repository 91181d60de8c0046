# Shared by run.sh and test.sh: install what a fresh Debian machine lacks, then configure and build.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
PACKAGES=(cmake ninja-build g++ qt6-base-dev libgl-dev libgtest-dev libgmock-dev libbenchmark-dev)

ensure_packages() {
  local missing=()
  for p in "${PACKAGES[@]}" "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# The libFuzzer targets that scripts/fuzz.sh builds and runs.
FUZZ_TARGETS=(reply_reader_fuzz receive_path_fuzz log_reader_fuzz)

build_preset() {
  local preset=$1
  cmake --preset "$preset" -S "$ROOT" >/dev/null
  if [ "$preset" = fuzz ]; then
    # Only the fuzz targets and what they link.
    cmake --build --preset fuzz -j "$(nproc)" --target "${FUZZ_TARGETS[@]}"
  else
    cmake --build --preset "$preset" -j "$(nproc)"
  fi
}
