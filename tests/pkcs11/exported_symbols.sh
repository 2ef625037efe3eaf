#!/usr/bin/env bash
# Compares the dynamic symbols a shared module defines with the expected list.
set -euo pipefail
module="$1"; expected="$2"
actual="$(nm -D --defined-only "$module" | awk '{print $NF}' | sort)"
if ! diff <(sort "$expected") <(echo "$actual"); then
  echo "exported symbols of $module differ from $expected (< expected, > actual)"
  exit 1
fi
echo "$(wc -l <<<"$actual") symbols, as expected"
