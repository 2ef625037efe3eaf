#!/usr/bin/env bash
# Configures and builds one build tree.
#   scripts/build.sh asan     - AddressSanitizer + UBSan build with every test
#   scripts/build.sh release  - the optimised module users get
#   scripts/build.sh tsan     - ThreadSanitizer build for the concurrency tests
# Extra arguments are passed to the build tool as target names; BUILD_JOBS
# limits the parallel compile jobs (default: one per core).
set -euo pipefail
cd "$(dirname "$0")/.."
kind="${1:-release}"; shift || true
jobs="${BUILD_JOBS:-$(nproc)}"
export CCACHE_DIR="${CCACHE_DIR:-$HOME/.cache/ccache}"
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}"
export CCACHE_MAXSIZE="${CCACHE_MAXSIZE:-5G}"
dir="build/$kind"
# Test builds log by default into their own tree, so that tests run without
# log variables never write into a log folder of the machine; the release
# build keeps the documented default.
test_log=(-DBRELT_DEFAULT_LOG_PATH="$PWD/$dir/default-log/pkcs11.log")
case "$kind" in
  asan)    opts=(-DCMAKE_BUILD_TYPE=Debug -DBRELT_SANITIZE=ON -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" "${test_log[@]}") ;;
  release) opts=(-DCMAKE_BUILD_TYPE=Release) ;;
  tsan)    opts=(-DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" "${test_log[@]}"
                 -DCMAKE_C_FLAGS=-fsanitize=thread -DCMAKE_CXX_FLAGS=-fsanitize=thread
                 -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread -DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread) ;;
  *) echo "unknown build kind $kind" >&2; exit 2 ;;
esac
if [ ! -f "$dir/build.ninja" ]; then
  cmake -S . -B "$dir" -G Ninja "${opts[@]}" >/dev/null
elif [ "$kind" = release ] && grep -q "^BRELT_DEFAULT_LOG_PATH:STRING=$PWD/" "$dir/CMakeCache.txt"; then
  # A release tree configured by an older script: back to the default path.
  cmake -U BRELT_DEFAULT_LOG_PATH -S . -B "$dir" >/dev/null
fi
targets=()
for t in "$@"; do targets+=(--target "$t"); done
cmake --build "$dir" -j "$jobs" "${targets[@]}"
