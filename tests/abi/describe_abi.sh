#!/usr/bin/env bash
# Describes the plug-in's binary interface, one fact to a line, each line naming
# its class: sizes, base offsets and virtual slots (g++'s class dump), member
# offsets (the probe's debug information, read by gdb), the exported symbols,
# the metadata block and the libraries needed at load.
#   describe_abi.sh PROBE_OBJECT PLUGIN    (g++ wrote the dump beside the object)
set -euo pipefail
probe=$1 plugin=$2
dump=$(ls "${probe%.o}"*.001l.class | head -n 1)
classes=(AbstractPaymentProcessing BasicPaymentProcessing oxlenpay::Interface
         PaymentProcessingAnswer tr::Tr oxlenpay::OxlenPay)

for class in "${classes[@]}"; do
    # The "Class" record: size, alignment and where each base lies.
    awk -v c="$class" '
        $0 == "Class " c { on = 1; next }
        on && /^$/ { exit }
        on { gsub(/ \(0x0x[0-9a-f]+\)/, ""); gsub(/^ +/, ""); print "class " c ": " $0 }
    ' "$dump"
    # The virtual table, slot by slot (byte offset from the table's start).
    awk -v c="$class" '
        $0 == "Vtable for " c { on = 1; getline; next }
        on && /^$/ { exit }
        on { offset = $1; sub(/^[0-9]+ +/, ""); sub(/^\(int \(\*\)\(\.\.\.\)\)/, ""); print "vtable " c " +" offset ": " $0 }
    ' "$dump"
    # Members: offset, size, type and name; nested types folded to one line.
    gdb -batch -nx -ex 'set print type methods off' -ex 'set print type typedefs off' \
        -ex "ptype /o $class" "$probe" 2>&1 |
        awk -v c="$class" '
            { line = $0 }
            /\{$/ { depth++; if (depth == 2) { opening = line; sub(/ *\{$/, "", opening) } ; next }
            /^ *\} [A-Za-z_0-9]+;$/ && depth == 2 {
                name = line; sub(/^ *\} /, "", name); print "member " c ": " opening " " name; depth--; next }
            /^ *\}/ { depth--; next }
            depth == 1 && /^\/\*/ { print "member " c ": " line }
            depth == 1 && /total size/ { gsub(/^ +/, "", line); print "member " c ": " line }
        ' | sed 's/  */ /g'
done

nm -D --defined-only "$plugin" | awk '{ $1 = ""; print }' | c++filt | sed 's/^ /export /' | LC_ALL=C sort -u
objcopy -O binary --only-section=.qtmetadata "$plugin" /dev/stdout | od -An -tx1 -v | tr -s ' \n' ' ' |
    sed 's/^ *//; s/ *$//; s/^/metadata: /'
echo
readelf -d "$plugin" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/needed: \1/p' | LC_ALL=C sort
