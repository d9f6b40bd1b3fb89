#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a share of the given seconds,
# seeded with the golden archives of tests/data. Skipped (with a note) when clang or its
# fuzzer runtime is missing. A crash or leak found by a fuzzer fails the script.
#
# The mutations follow a fixed random seed (ZAN3D_FUZZ_SEED, 1 by default), so that a run
# that fails can be repeated as it was; set another seed, or 0 for a fresh one each run, to
# explore further.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-30}
seed=${ZAN3D_FUZZ_SEED:-1}
[[ "$seconds" == 0 ]] && exit 0

runtime=$(ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a 2>/dev/null | head -1 || true)
if ! command -v clang++ >/dev/null || [[ -z "$runtime" ]]; then
    echo "fuzz.sh: clang's libFuzzer runtime is not installed; fuzzing skipped"
    exit 0
fi

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
targets=(build/fuzz/fuzz/fuzz_*)
share=$(( seconds / ${#targets[@]} ))
(( share < 5 )) && share=5
for target in "${targets[@]}"; do
    name=$(basename "$target")
    corpus=build/fuzz/corpus/$name
    mkdir -p "$corpus"
    seeds=tests/data/fuzz/${name#fuzz_}
    [[ -d "$seeds" ]] || seeds=
    echo "fuzz.sh: $name for ${share}s"
    "$target" -artifact_prefix=build/fuzz/ -seed="$seed" -max_total_time="$share" -max_len=65536 -rss_limit_mb=2048 -timeout=10 \
        -print_final_stats=0 "$corpus" $seeds >"build/fuzz/$name.log" 2>&1 || {
        tail -60 "build/fuzz/$name.log"
        echo "fuzz.sh: $name found a failure (see build/fuzz/$name.log)" >&2
        exit 1
    }
done
echo "fuzz.sh: no failure found"
