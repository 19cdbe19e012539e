#!/usr/bin/env bash
# Sets up, builds and runs every test: a normal build, then the same tests under
# AddressSanitizer+UndefinedBehaviorSanitizer and under ThreadSanitizer.
# Usage: scripts/test.sh [normal|asan|tsan ...]   (default: all three)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

configs=("$@")
[ ${#configs[@]} -eq 0 ] && configs=(normal asan tsan)

for config in "${configs[@]}"; do
  case "$config" in
    # Line tables only (-g1): enough for sanitizer reports and back traces, and
    # the builds stay quick on a 2-core machine.
    normal) dir=build;      flags=(-DHALVORA_BUILD_BENCH=ON "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1") ;;
    asan)   dir=build-asan; flags=(-DHALVORA_SANITIZE=address -DHALVORA_BUILD_BENCH=OFF "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1") ;;
    tsan)   dir=build-tsan; flags=(-DHALVORA_SANITIZE=thread -DHALVORA_BUILD_BENCH=OFF "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1") ;;
    *) echo "unknown configuration: $config" >&2; exit 2 ;;
  esac
  echo "=== $config build ($dir) ==="
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${flags[@]}" > /dev/null
  cmake --build "$dir" -j2
  echo "=== $config tests ==="
  (cd "$dir" && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
     TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
     ctest --output-on-failure -j4 --timeout 600)
done
