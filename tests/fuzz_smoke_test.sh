#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in a tree of their own and runs each for
# SECONDS on its committed corpus: any crash or broken invariant fails.
#   fuzz_smoke_test.sh SOURCE_DIR BUILD_DIR SECONDS
set -euo pipefail
source_dir=$1 build_dir=$2 seconds=$3
if ! command -v clang++ >/dev/null; then
    echo "clang++ is missing (./make.sh test installs it)" >&2
    [ "${CI:-}" = true ] && exit 1
    exit 77
fi
cmake -S "$source_dir/fuzz" -B "$build_dir" -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build_dir" -j"$(nproc)" >/dev/null
# A fixed seed: CI repeats the same exploration; fuzz/run.sh alone explores anew.
FUZZ_SEED=1 "$source_dir/fuzz/run.sh" "$build_dir" "$seconds"
