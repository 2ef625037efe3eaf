#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time,
# starting from the seed corpus in fuzz/corpus/<name>/ when there is one and
# from the structures on the simulated cards.
#   scripts/fuzz.sh [seconds in total, default 60]
# Exits non-zero when a fuzzer finds a crash or a sanitizer report; skips
# (exit 0) when clang is not installed.
set -uo pipefail
cd "$(dirname "$0")/.."
total="${1:-60}"

if ! command -v clang++ >/dev/null 2>&1; then
  echo "fuzz.sh: clang++ not found, skipping the fuzz runs"
  exit 0
fi

export CCACHE_DIR="${CCACHE_DIR:-$HOME/.cache/ccache}"
# Botan serves small secure buffers from a locked pool of its own, where
# AddressSanitizer sees no overrun: every buffer comes from the heap instead.
export BOTAN_MLOCK_POOL_SIZE=0
dir=build/fuzz
if [ ! -f "$dir/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S fuzz -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || exit 1
fi
cmake --build "$dir" -j "$(nproc)" || exit 1

# Structures from the simulated cards, written by a test of the sanitizer
# build when that has been built.
simSeeds="$dir/seeds-sim"
for tests in build/asan/tests/asn1/asn1_card_file_tests build/dev/tests/asn1/asn1_card_file_tests; do
  if [ -x "$tests" ]; then
    rm -rf "$simSeeds"; mkdir -p "$simSeeds"
    BRELT_ASN1_SEED_DIR="$simSeeds" ASAN_OPTIONS=detect_leaks=0 "$tests" >/dev/null 2>&1 || rm -rf "$simSeeds"
    break
  fi
done

mapfile -t fuzzers < <(find "$dir" -maxdepth 1 -type f -name '*_fuzzer' -perm -u+x | sort)
if [ "${#fuzzers[@]}" -eq 0 ]; then echo "fuzz.sh: no fuzzers built"; exit 1; fi
per=$(( total / ${#fuzzers[@]} )); [ "$per" -lt 5 ] && per=5

status=0
for fuzzer in "${fuzzers[@]}"; do
  name="$(basename "$fuzzer" _fuzzer)"
  work="$dir/corpus-$name"; mkdir -p "$work"
  seeds=(); [ -d "fuzz/corpus/$name" ] && seeds=("fuzz/corpus/$name")
  [ -d "$simSeeds" ] && seeds+=("$simSeeds")
  echo "fuzz.sh: $name for ${per}s"
  if ! "$fuzzer" -max_total_time="$per" -max_len=8192 -timeout=10 -rss_limit_mb=2048 \
       -print_final_stats=1 -artifact_prefix="$dir/crash-$name-" "$work" "${seeds[@]}" \
       >"$dir/$name.log" 2>&1; then
    echo "fuzz.sh: $name FAILED (see $dir/$name.log):"
    tail -n 40 "$dir/$name.log"
    status=1
  else
    grep -E '^stat::(number_of_executed_units|peak_rss_mb)' "$dir/$name.log" | sed "s/^/  $name /"
  fi
done
exit "$status"
