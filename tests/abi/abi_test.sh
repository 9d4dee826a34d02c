#!/usr/bin/env bash
# Compares the plug-in's binary interface with the committed description. A host
# built against the old one would call the wrong slot or read the wrong member,
# so every difference fails, named by its class.
#   abi_test.sh GOLDEN PROBE_OBJECT PLUGIN
# After a deliberate change: OXLENPAY_UPDATE_ABI=1 abi_test.sh ... rewrites GOLDEN.
set -euo pipefail
golden=$1 probe=$2 plugin=$3
here=$(dirname "$0")
current=$(mktemp)
trap 'rm -f "$current"' EXIT
"$here/describe_abi.sh" "$probe" "$plugin" > "$current"
if [ "${OXLENPAY_UPDATE_ABI:-}" = 1 ]; then
    cp "$current" "$golden"
    echo "rewrote $golden"
    exit 0
fi
if diff -q "$golden" "$current" >/dev/null; then
    echo "binary interface unchanged: $(wc -l < "$golden") facts"
    exit 0
fi
echo "The plug-in's binary interface differs from $golden:" >&2
diff "$golden" "$current" | sed -n 's/^< /  was: /p; s/^> /  now: /p' >&2
echo "If the change is deliberate (and every host is rebuilt), rerun with OXLENPAY_UPDATE_ABI=1." >&2
exit 1
