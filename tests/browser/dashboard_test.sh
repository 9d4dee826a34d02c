#!/usr/bin/env bash
# Runs the dashboard test when Chromium and playwright-core are there (./make.sh
# installs both); without them it is skipped (77), except in CI, where it fails.
#   dashboard_test.sh MODULES_DIR SANDBOX TILL OUTPUT_DIR
set -euo pipefail
modules=$1 sandbox=$2 till=$3 output=$4
if [ ! -x "${CHROMIUM:-/usr/bin/chromium}" ] || [ ! -d "$modules/node_modules/playwright-core" ] ||
    ! command -v node >/dev/null; then
    echo "Chromium, node or playwright-core is missing (./make.sh test installs them)" >&2
    [ "${CI:-}" = true ] && exit 1
    exit 77
fi
mkdir -p "$output"
exec node "$(dirname "$0")/dashboard_test.mjs" "$sandbox" "$till" "$modules" "$output"
