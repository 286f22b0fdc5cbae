#!/bin/sh
# Checks that includes point one way through the module's layers:
#   src/LustraFex.cpp (the exports) -> dialog -> operator -> driver -> engine
# A file may include headers of its own layer and of layers below it, never
# of a layer above. Hosts (apps/, hostlib/, include/) include no module
# internals at all. Prints every include against the direction and exits 1
# when there is one.
#
#   scripts/check-layers.sh [ROOT]    (ROOT defaults to the repository)
root=${1:-$(dirname "$0")/..}
cd "$root" || exit 2

rank() {
    case $1 in
    exports) echo 5 ;;
    dialog) echo 4 ;;
    operator) echo 3 ;;
    driver) echo 2 ;;
    engine) echo 1 ;;
    *) echo 0 ;;
    esac
}

status=0
for file in $(find src apps hostlib include -name '*.cpp' -o -name '*.h' 2>/dev/null | sort); do
    case $file in
    src/LustraFex.cpp) layer=exports ;;
    src/*/*) layer=${file#src/}; layer=${layer%%/*} ;;
    *) layer=host ;;
    esac
    grep -n '^[[:space:]]*#[[:space:]]*include[[:space:]]*"\(dialog\|operator\|driver\|engine\)/' "$file" |
        while IFS= read -r line; do
            target=${line#*\"}
            target=${target%%/*}
            if [ "$layer" = host ] || [ "$(rank "$target")" -gt "$(rank "$layer")" ]; then
                echo "$file:${line%%:*}: $layer includes $target: ${line#*:}"
            fi
        done
done >"${TMPDIR:-/tmp}/check-layers.$$"
if [ -s "${TMPDIR:-/tmp}/check-layers.$$" ]; then
    cat "${TMPDIR:-/tmp}/check-layers.$$"
    echo "check-layers: includes against exports -> dialog -> operator -> driver -> engine" >&2
    status=1
fi
rm -f "${TMPDIR:-/tmp}/check-layers.$$"
exit $status
