#!/usr/bin/env bash
# The whole test suite: installs what is missing, then builds and runs every
# test natively and under the AddressSanitizer/UBSan and ThreadSanitizer builds.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
for preset in linux asan tsan; do
    echo "== $preset =="
    cmake --preset "$preset"
    cmake --build --preset "$preset"
    ctest --preset "$preset" -j 2
done
