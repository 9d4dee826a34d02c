#!/usr/bin/env bash
# The libFuzzer targets, built with clang in a tree of their own (`build`), or each run for
# SECONDS on its committed corpus, two at a time (`run`): any crash or broken invariant fails.
#   fuzz_smoke_test.sh build SOURCE_DIR BUILD_DIR
#   fuzz_smoke_test.sh run SOURCE_DIR BUILD_DIR SECONDS
set -euo pipefail
step=$1 source_dir=$2 build_dir=$3
if ! command -v clang++ >/dev/null; then
    echo "clang++ is missing (./make.sh test installs it)" >&2
    [ "${CI:-}" = true ] && exit 1
    exit 77
fi
if [ "$step" = build ]; then
    cmake -S "$source_dir/fuzz" -B "$build_dir" -DCMAKE_CXX_COMPILER=clang++ \
        -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$build_dir" -j"$(nproc)" >/dev/null
    echo "fuzz targets built"
    exit 0
fi
# A fixed seed: CI repeats the same exploration; fuzz/run.sh alone explores anew.
FUZZ_SEED=1 FUZZ_JOBS=2 "$source_dir/fuzz/run.sh" "$build_dir" "$4"
