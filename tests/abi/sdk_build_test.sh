#!/usr/bin/env bash
# Builds the plug-in the way an integrator does against a shop host's SDK: our
# stand-ins are installed as such an SDK into a temporary prefix, the plug-in is
# built from a separate tree against that prefix only, and the till loads it.
#   sdk_build_test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$1 build_dir=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build_dir" --component sdk --prefix "$work/sdk" >/dev/null
test -f "$work/sdk/lib/cmake/StrovaSDK/StrovaSDKConfig.cmake"
test -f "$work/sdk/include/strova/restclient.h"
test -f "$work/sdk/include/log4qt/logger.h"

cmake -S "$source_dir" -B "$work/build" -DSTROVA_SDK_DIR="$work/sdk" \
    -DCMAKE_EXPORT_COMPILE_COMMANDS=ON > "$work/configure.log"
grep -q "Building against the host SDK in $work/sdk" "$work/configure.log"
cmake --build "$work/build" --target ProcessingOxlenPay -j"$(nproc)" > "$work/build.log" ||
    { cat "$work/build.log" >&2; exit 1; }

# Nothing of our stand-ins took part: no header of theirs was on an include path
# and no library of theirs was linked.
if grep -E -e "-I$source_dir/(host|processing/hostservices)" "$work/build/compile_commands.json"; then
    echo "the SDK build compiled against the stand-ins' headers" >&2
    exit 1
fi
plugin=$work/build/plugin/libProcessingOxlenPay.so
if grep -R -l -- "$build_dir/host" "$work/build/plugin/CMakeFiles/ProcessingOxlenPay.dir/link.txt"; then
    echo "the SDK build linked the stand-ins' libraries" >&2
    exit 1
fi
grep -q "RUNPATH.*$work/sdk/lib" <<<"$(readelf -d "$plugin")"

# The till (with the host's libraries of the main build) loads and drives it.
"$build_dir/till/oxlenpay-till" --quiet --plugin "$plugin" info > "$work/info.txt"
grep -q "Ввод токена Oxlen Pay" "$work/info.txt"
echo "plug-in built against $work/sdk and loaded by the till"
