# Shared by run.sh and test.sh: install what a fresh Debian machine lacks, then configure and build.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
PACKAGES=(cmake ninja-build g++ ccache qt6-base-dev qt6-charts-dev libqt6opengl6-dev libgl-dev libgtest-dev libgmock-dev libbenchmark-dev postgresql libpq-dev prometheus-cpp-dev prometheus curl tshark)

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

# Compiler cache: paths under the checkout are hashed relative to it, so a fresh clone elsewhere
# (CI's) reuses what an earlier build of the same sources compiled.
export CCACHE_BASEDIR="$ROOT" CCACHE_NOHASHDIR=1 CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-5G}
export CCACHE_SLOPPINESS=${CCACHE_SLOPPINESS:-pch_defines,time_macros,include_file_mtime,include_file_ctime}

build_preset() {
  local preset=$1
  cmake --preset "$preset" -S "$ROOT" -DCMAKE_CXX_COMPILER_LAUNCHER=ccache >/dev/null
  if [ "$preset" = fuzz ]; then
    # Only the fuzz targets and what they link.
    cmake --build --preset fuzz -j "$(nproc)" --target "${FUZZ_TARGETS[@]}"
  else
    cmake --build --preset "$preset" -j "$(nproc)"
  fi
}
