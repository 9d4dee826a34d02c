#!/usr/bin/env bash
# Each patch in simulate/mutants/ breaks one safety rule of the plug-in. Applied one at a
# time to a copy of the sources, whose build folder keeps what it built, so that each
# mutant rebuilds only what it changes; the simulation must report every one within 3,000
# seeds with a kind of violation that simulate/known-failures.txt does not list. A patch
# that no longer applies fails the test; simulate/mutants/not-yet-caught.txt names the few
# the simulation cannot report yet.
#   mutants_test.sh SOURCE_DIR WORK_DIR
set -euo pipefail
source_dir=$1 work=$2
copy=$work/source build=$work/build
known=$source_dir/simulate/known-failures.txt
mkdir -p "$copy"
# The sources as they are now, tracked files only; unchanged files keep their times so
# that the build folder rebuilds only what differs.
if git -C "$source_dir" rev-parse --git-dir >/dev/null 2>&1; then
    mapfile -d '' files < <(git -C "$source_dir" ls-files -z)
else
    mapfile -d '' files < <(cd "$source_dir" && find . -path ./build\* -prune -o -type f -print0)
fi
(cd "$source_dir" && cp --parents -u -p -- "${files[@]}" "$copy/")
# A repository of its own, so that git apply patches the copy even inside another work tree.
[ -d "$copy/.git" ] || git -C "$copy" init -q
cmake -S "$copy" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOXLENPAY_BUILD_TESTS=OFF \
    -DOXLENPAY_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target oxlenpay-simulate >/dev/null

pending=$source_dir/simulate/mutants/not-yet-caught.txt
passed=0 failed=0
for patch in "$source_dir"/simulate/mutants/*.patch; do
    name=$(basename "$patch" .patch)
    if ! (cd "$copy" && git apply --check "$patch"); then
        echo "mutant $name: the patch no longer applies" >&2
        failed=$((failed + 1))
        continue
    fi
    (cd "$copy" && git apply "$patch")
    status=0
    if ! cmake --build "$build" -j"$(nproc)" --target oxlenpay-simulate >"$work/$name.build" 2>&1; then
        echo "mutant $name: does not build" >&2
        status=1
    else
        "$build/simulate/oxlenpay-simulate" --seeds 3000 --stop-at-first --no-shrink \
            --known-failures "$known" >"$work/$name.out" 2>&1 || true
    fi
    (cd "$copy" && git apply -R "$patch")
    caught=$(grep -m1 -E '^seed [0-9]+: ' "$work/$name.out" 2>/dev/null || true)
    listed=$(grep -E "^$name\b" "$pending" 2>/dev/null || true)
    if [ -n "$listed" ]; then
        if [ "$status" -eq 0 ] && [ -z "$caught" ]; then
            echo "mutant $name: not caught yet, as not-yet-caught.txt says"
            passed=$((passed + 1))
        else
            echo "mutant $name: caught now ($caught): take it out of not-yet-caught.txt" >&2
            failed=$((failed + 1))
        fi
    elif [ "$status" -eq 0 ] && [ -n "$caught" ]; then
        echo "mutant $name: caught: $caught"
        passed=$((passed + 1))
    else
        echo "mutant $name: NOT caught within 3000 seeds" >&2
        tail -3 "$work/$name.out" >&2 || true
        failed=$((failed + 1))
    fi
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
