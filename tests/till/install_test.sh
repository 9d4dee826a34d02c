#!/usr/bin/env bash
# Installs the build into a temporary prefix and runs the installed till from there;
# then checks that the Debian packages hold what they should.
set -euo pipefail
build_dir=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build_dir" --prefix "$work/prefix" >/dev/null
"$work/prefix/bin/oxlenpay-till" --quiet info > "$work/info.txt"
grep -q "Ввод токена Oxlen Pay" "$work/info.txt"
grep -q "453 x 350" "$work/info.txt"
test -f "$work/prefix/share/oxlenpay/oxlenpay.conf.example"

(cd "$work" && cpack --config "$build_dir/CPackConfig.cmake" -B "$work/packages" >/dev/null)
plugin_deb=$(ls "$work"/packages/oxlenpay-strova-plugin_*.deb)
tools_deb=$(ls "$work"/packages/oxlenpay-strova-tools_*.deb)
dpkg-deb -c "$plugin_deb" > "$work/plugin.txt"
dpkg-deb -c "$tools_deb" > "$work/tools.txt"
grep -q "paysystems/libProcessingOxlenPay.so" "$work/plugin.txt"
! grep -q "bin/oxlenpay-till" "$work/plugin.txt"
! grep -q "libstrovaconfig" "$work/plugin.txt"
grep -q "bin/oxlenpay-till" "$work/tools.txt"
grep -q "bin/oxlenpay-sandbox" "$work/tools.txt"
grep -q "libstrovaconfig.so" "$work/tools.txt"
echo "installed till ran; packages: $(basename "$plugin_deb") $(basename "$tools_deb")"
