#!/usr/bin/env bash
# Installs what is missing, builds the suite twice (plain, and with
# AddressSanitizer + UndefinedBehaviorSanitizer) and runs the whole test suite
# in both builds.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh test

jobs=$(nproc)
# The integration tests fail instead of skipping when a server program is missing.
export SUITE_REQUIRE_SERVERS=1
run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DSUITE_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  if ! ctest --test-dir "$dir" --output-on-failure -j "$jobs"; then
    # The failed checks once more, short, where a truncated log still shows them.
    echo "== Failed checks in $dir =="
    grep -a -E -A3 '^(FAIL!|XPASS)|ERROR: AddressSanitizer|runtime error:' \
      "$dir/Testing/Temporary/LastTest.log" | head -n 80 || true
    return 1
  fi
}

echo "== Plain build =="
run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo

echo "== Sanitizer build =="
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/scripts/lsan.supp
run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DSUITE_SANITIZE=ON
