#!/usr/bin/env bash
# Runs the whole test suite from a clean clone: installs what is missing, configures and
# builds the "ci" preset, runs every test, then the fuzz targets briefly when clang's
# libFuzzer runtime is on the machine.
#
#   scripts/test.sh            the suite (what CI runs)
#   scripts/test.sh --asan     the suite under AddressSanitizer + UndefinedBehaviorSanitizer
#   scripts/test.sh --tsan     the tests of concurrent use under ThreadSanitizer
#   ZAN3D_FUZZ_SECONDS=0       skips the fuzzing step; any other value sets its length
set -euo pipefail
cd "$(dirname "$0")/.."

preset=ci
case "${1:-}" in
--asan) preset=asan ;;
--tsan) preset=tsan ;; # only the tests of concurrent use
esac

scripts/install-deps.sh

cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
ctest --preset "$preset"

if [[ "$preset" == ci ]]; then
    scripts/fuzz.sh "${ZAN3D_FUZZ_SECONDS:-30}"
fi
echo "test.sh: all tests passed ($preset)"
