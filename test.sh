#!/usr/bin/env bash
# Builds and runs every test:
#  1. the whole suite on an AddressSanitizer + UndefinedBehaviorSanitizer build,
#  2. the concurrency tests on a ThreadSanitizer build,
#  3. the real-client tests (pkcs11-tool, p11tool, GnuTLS TLS, the OpenSSL
#     engine, OpenSSH, NSS, PyKCS11, pcscd) on the optimised module,
#  4. short bounded fuzz runs when clang is available.
set -uo pipefail
cd "$(dirname "$0")"
scripts/setup.sh || exit 1

status=0
export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:abort_on_error=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR="$(mktemp -d)"
jobs="$(nproc)"

echo "== sanitizer build"
scripts/build.sh asan || exit 1
echo "== sanitizer test run"
(cd build/asan && ctest --output-on-failure -j "$jobs" -LE client --timeout 300) || status=1

echo "== thread sanitizer build (concurrency tests)"
scripts/build.sh tsan registry_concurrency_test registry_card_test \
  dialogs_hosted_facade_test dialogs_no_application_test monitor_tests logger_test sign_tests || exit 1
(cd build/tsan && export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" &&
  ctest --output-on-failure -L tsan --timeout 600 && tests/registry/registry_card_test --gtest_brief=1 &&
  tests/monitor/monitor_tests --gtest_brief=1 --gtest_filter='MonitorTest.*:CallerThreadMonitorTest.*' &&
  tests/base/logger_test --gtest_brief=1 --gtest_filter='*Threads*' &&
  tests/sign/sign_tests --gtest_brief=1 --gtest_filter='CardGoneTest.*') || status=1

echo "== release build"
scripts/build.sh release client-deps || exit 1
echo "== real-client test run"
# The optimised module logs to the machine's log folder by default; keep the
# clients' calls out of it.
(cd build/release && COPYRIGHT_BRELT_PKCS11_P="$XDG_RUNTIME_DIR/client-tests.log" COPYRIGHT_BRELT_PKCS11_L=0 \
  ctest --output-on-failure -j 2 -L client --timeout 600) || status=1

if [ -x scripts/fuzz.sh ]; then
  echo "== bounded fuzz runs"
  scripts/fuzz.sh || status=1
fi

if [ "$status" -ne 0 ]; then echo "test.sh: FAILED"; else echo "test.sh: all passed"; fi
exit "$status"
