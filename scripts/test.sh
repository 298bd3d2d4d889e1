#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds everything with
# warnings as errors, then builds and runs every test natively, under
# AddressSanitizer/UBSan and ThreadSanitizer, and as 32-bit Windows code
# under Wine; checks that the Windows tolvane renders exactly what the native
# one does; last, runs every fuzz target for a bounded time
# (TOLVANE_FUZZ_SECONDS each, default 60).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
echo "== werror =="
cmake --preset werror
cmake --build --preset werror
for preset in linux asan tsan win32; do
    echo "== $preset =="
    cmake --preset "$preset"
    cmake --build --preset "$preset"
    ctest --preset "$preset" -j 2
done
echo "== native and Windows renders agree =="
scripts/compare-renders.sh
echo "== fuzzing =="
scripts/fuzz.sh "${TOLVANE_FUZZ_SECONDS:-60}"
