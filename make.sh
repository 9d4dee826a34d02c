#!/usr/bin/env bash
# One entry point for the two everyday jobs:
#   ./make.sh demo   build and run the till's demo against the local sandbox
#   ./make.sh test   build and run every test, then the tests once more under sanitizers
#   ./make.sh package  build the Debian packages into packages/ (JOBS parallel jobs, default
#                      all cores)
# Each installs the Debian packages it needs when they are missing.
set -euo pipefail
cd "$(dirname "$0")"

BUILD_DIR=${BUILD_DIR:-build}
# What the demo needs to build and run; the tests need the rest as well.
DEMO_PACKAGES=(cmake g++ make pkg-config ca-certificates qtbase5-dev libcurl4-openssl-dev libssl-dev
               libsqlite3-dev libboost-dev)
TEST_PACKAGES=(binutils file gdb dpkg-dev lintian libgtest-dev libgmock-dev libbenchmark-dev
               libqrencode-dev nodejs chromium clang clang-format libclang-rt-14-dev)
PACKAGES=("${DEMO_PACKAGES[@]}")

install_missing() {
    local missing=()
    for package in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}" >&2
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null
}

# build [CMAKE_OPTIONS...]
build() {
    install_missing
    cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
    cmake --build "$BUILD_DIR" -j"${JOBS:-$(nproc)}"
}

# playwright-core for the dashboard's browser test, pinned by its lock file.
install_browser_driver() {
    local dir="$BUILD_DIR/tests/browser"
    if [ ! -d "$dir/node_modules/playwright-core" ]; then
        npm ci --prefix "$dir" --no-audit --no-fund --loglevel=error >/dev/null
    fi
}

# The unit and end-to-end tests once more, built with AddressSanitizer and
# UndefinedBehaviorSanitizer; a report from any process (the tills and sandboxes
# the tests start included) fails the run.
sanitized_tests() {
    local dir="$BUILD_DIR-sanitizers" reports
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOXLENPAY_SANITIZE=ON \
        -DOXLENPAY_BUILD_BENCH=OFF >/dev/null
    cmake --build "$dir" -j"$(nproc)"
    reports=$(mktemp -d)
    ASAN_OPTIONS="detect_leaks=1:log_path=$reports/asan" \
        UBSAN_OPTIONS="print_stacktrace=1:log_path=$reports/ubsan" \
        ctest --test-dir "$dir" --output-on-failure -j"$(nproc)"
    if [ -n "$(ls -A "$reports")" ]; then
        cat "$reports"/* >&2
        echo "sanitizer reports above" >&2
        return 1
    fi
    echo "sanitizers: no report"
}

# The client, journal and plug-in suites once more under ThreadSanitizer: a host calls one
# plug-in object from several threads. Any report fails the run.
threaded_tests() {
    local dir="$BUILD_DIR-tsan" reports
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOXLENPAY_TSAN=ON \
        -DOXLENPAY_BUILD_BENCH=OFF >/dev/null
    cmake --build "$dir" -j"$(nproc)" --target client_tests journal_tests plugin_tests
    reports=$(mktemp -d)
    TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/tests/tsan.supp:log_path=$reports/tsan" \
        ctest --test-dir "$dir" --output-on-failure -j"$(nproc)" \
        -L '^(client_tests|journal_tests|plugin_tests)$'
    if [ -n "$(ls -A "$reports")" ]; then
        cat "$reports"/* >&2
        echo "thread sanitizer reports above" >&2
        return 1
    fi
    echo "thread sanitizer: no report"
}

case "${1:-}" in
demo)
    build -DOXLENPAY_BUILD_TESTS=OFF -DOXLENPAY_BUILD_BENCH=OFF
    exec "$BUILD_DIR/till/oxlenpay-till" demo
    ;;
test)
    PACKAGES+=("${TEST_PACKAGES[@]}")
    build -DOXLENPAY_BUILD_TESTS=ON -DOXLENPAY_BUILD_BENCH=ON
    install_browser_driver
    ctest --test-dir "$BUILD_DIR" --output-on-failure -j"$(nproc)"
    sanitized_tests
    threaded_tests
    ;;
package)
    # A tree of its own: the packages are built without tests, benchmarks or sanitizers.
    PACKAGES+=(dpkg-dev file)
    BUILD_DIR=$BUILD_DIR-package
    build -DOXLENPAY_BUILD_TESTS=OFF -DOXLENPAY_BUILD_BENCH=OFF
    mkdir -p packages
    (cd "$BUILD_DIR" && cpack -B "$OLDPWD/packages" >/dev/null)
    rm -rf packages/_CPack_Packages
    ls -1 packages/*.deb
    ;;
*)
    echo "usage: $0 demo|test|package" >&2
    exit 2
    ;;
esac
