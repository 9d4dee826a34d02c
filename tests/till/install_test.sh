#!/usr/bin/env bash
# Installs the build into a temporary prefix and runs the installed tools from
# there; then builds the Debian packages, checks what each holds and, when
# lintian is installed, that it finds nothing to warn about.
set -euo pipefail
build_dir=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build_dir" --prefix "$work/prefix" >/dev/null
"$work/prefix/bin/oxlenpay-till" --quiet info > "$work/info.txt"
grep -q "Ввод токена Oxlen Pay" "$work/info.txt"
grep -q "453 x 350" "$work/info.txt"
grep -qx "oxlenpay-till [0-9.]*" <<<"$("$work/prefix/bin/oxlenpay-till" --version)"
grep -qx "oxlenpay-sandbox [0-9.]*" <<<"$("$work/prefix/bin/oxlenpay-sandbox" --version)"
test -f "$work/prefix/share/doc/oxlenpay-strova-plugin/examples/oxlenpay.conf.example"
# Our stand-ins stay out of the directory where the plug-in finds the host's libraries.
! ls "$work/prefix/lib/strova/"*.so* 2>/dev/null

(cd "$work" && cpack --config "$build_dir/CPackConfig.cmake" -B "$work/packages" >/dev/null 2>&1)
for package in plugin tools dbg; do
    deb=$(ls "$work"/packages/oxlenpay-strova-${package}_*.deb)
    dpkg-deb -c "$deb" | awk '{print $6}' | grep -v '/$' > "$work/$package.txt"
done
# The plug-in package: the plug-in, the example configuration, the documentation.
expected_plugin_files=(
    ./usr/lib/strova/paysystems/libProcessingOxlenPay.so
    ./usr/share/doc/oxlenpay-strova-plugin/README.md
    ./usr/share/doc/oxlenpay-strova-plugin/changelog.gz
    ./usr/share/doc/oxlenpay-strova-plugin/copyright
    ./usr/share/doc/oxlenpay-strova-plugin/examples/oxlenpay.conf.example
)
diff <(sort "$work/plugin.txt") <(printf '%s\n' "${expected_plugin_files[@]}" | sort)
grep -qx "./usr/bin/oxlenpay-till" "$work/tools.txt"
grep -qx "./usr/bin/oxlenpay-sandbox" "$work/tools.txt"
grep -qx "./usr/lib/oxlenpay-strova/host/libstrovaconfig.so.1" "$work/tools.txt"
grep -qx "./usr/share/man/man1/oxlenpay-till.1.gz" "$work/tools.txt"
grep -qx "./usr/lib/systemd/system/oxlenpay-recover@.timer" "$work/tools.txt"
grep -qx "./usr/lib/systemd/system/oxlenpay-recover@.service" "$work/tools.txt"
# Each package its own synopsis.
[ "$(for deb in "$work"/packages/*.deb; do dpkg-deb -f "$deb" Description | head -1; done | sort -u | wc -l)" -eq 3 ]
! grep "/usr/lib/strova/" "$work/tools.txt"
[ "$(grep -c '^./usr/lib/debug/.build-id/.*\.debug$' "$work/dbg.txt")" -ge 7 ]

# Removal: the tools' maintainer scripts, run against a scratch root (DPKG_ROOT) with a
# systemctl that only logs. An upgrade keeps the timers; a removal stops and disables every
# instance; a purge removes what enabling left, never the configuration or the journal.
dpkg-deb -e "$(ls "$work"/packages/oxlenpay-strova-tools_*.deb)" "$work/control"
test -x "$work/control/prerm" && test -x "$work/control/postrm"
root=$work/root
mkdir -p "$root/run/systemd/system" "$root/etc/systemd/system/timers.target.wants" \
    "$root/var/lib/systemd/timers" "$root/var/lib/oxlenpay-strova" "$root/pomerin/oxlenpay" "$work/bin"
ln -s /usr/lib/systemd/system/oxlenpay-recover@.timer \
    "$root/etc/systemd/system/timers.target.wants/oxlenpay-recover@strova.timer"
touch "$root/var/lib/systemd/timers/stamp-oxlenpay-recover@strova.timer" \
    "$root/var/lib/oxlenpay-strova/strova.prom" "$root/pomerin/oxlenpay/oxlenpay.conf" \
    "$root/pomerin/oxlenpay/journal.sqlite"
cat > "$work/bin/systemctl" <<'STUB'
#!/bin/sh
echo "$*" >> "$SYSTEMCTL_LOG"
[ "$1" = list-units ] && echo "oxlenpay-recover@shop.timer loaded active waiting Recovery"
exit 0
STUB
chmod +x "$work/bin/systemctl"
maintainer() { PATH="$work/bin:$PATH" DPKG_ROOT="$root" SYSTEMCTL_LOG="$work/systemctl.log" "$@"; }
maintainer "$work/control/prerm" upgrade
[ ! -e "$work/systemctl.log" ] || { echo "an upgrade touched the timers" >&2; exit 1; }
maintainer "$work/control/prerm" remove
grep -qx "disable --now oxlenpay-recover@shop.timer" "$work/systemctl.log"
grep -qx "disable --now oxlenpay-recover@strova.timer" "$work/systemctl.log"
maintainer "$work/control/postrm" purge
[ -z "$(find "$root/etc/systemd/system/timers.target.wants" "$root/var/lib/systemd/timers" -mindepth 1)" ]
[ ! -e "$root/var/lib/oxlenpay-strova" ]
test -f "$root/pomerin/oxlenpay/oxlenpay.conf" && test -f "$root/pomerin/oxlenpay/journal.sqlite"
rm -r "$root/run/systemd" "$work/systemctl.log"
maintainer "$work/control/prerm" remove # no systemd running: no systemctl at all
[ ! -e "$work/systemctl.log" ]

# Installed stripped; the debug information is in the dbg package.
dpkg-deb -x "$(ls "$work"/packages/oxlenpay-strova-plugin_*.deb)" "$work/unpacked"
dpkg-deb -x "$(ls "$work"/packages/oxlenpay-strova-tools_*.deb)" "$work/unpacked"
# No search path with an empty entry, which would mean the current directory.
for binary in "$work"/unpacked/usr/bin/* "$work"/unpacked/usr/lib/strova/paysystems/*.so \
              "$work"/unpacked/usr/lib/oxlenpay-strova/host/*.so.*; do
    paths=$(readelf -d "$binary" | sed -n 's/.*(\(RUNPATH\|RPATH\)).*\[\(.*\)\]/\2/p')
    if [[ ":$paths:" == *"::"* ]]; then
        echo "$binary: empty entry in its search path \"$paths\"" >&2
        exit 1
    fi
done
grep -q ", stripped" <<<"$(file "$work/unpacked/usr/lib/strova/paysystems/libProcessingOxlenPay.so")"
grep -q "libqt5core5a (>= 5.15" <<<"$(dpkg-deb -f "$(ls "$work"/packages/oxlenpay-strova-plugin_*.deb)" Depends)"

if command -v lintian >/dev/null; then
    status=0
    report=$(lintian --fail-on error,warning "$work"/packages/*.deb 2>&1) || status=$?
    grep -v "root privileges" <<<"$report" || true
    [ $status -eq 0 ] || { echo "lintian found errors or warnings" >&2; exit 1; }
    echo "lintian: no errors or warnings"
    # Hardening: every binary bound read-only at load; checked functions where there are any.
    hardening=$(lintian -I "$work"/packages/*.deb 2>&1 | grep -E "hardening-no-(relro|bindnow|pie|stackprotector)" || true)
    [ -z "$hardening" ] || { echo "$hardening" >&2; echo "binaries without hardening" >&2; exit 1; }
    lintian -I "$work"/packages/*.deb 2>&1 | grep -E "hardening" || echo "lintian: no hardening tag"
else
    echo "lintian is not installed: packages not linted"
fi
echo "installed till ran; packages: $(cd "$work/packages" && ls *.deb | tr '\n' ' ')"
