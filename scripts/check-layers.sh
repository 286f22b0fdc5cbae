#!/bin/sh
# Checks that includes point one way through the module's layers:
#   src/LustraFex.cpp (the exports) -> dialog -> operator -> driver -> engine
# A file may include headers of its own layer and of layers below it, never
# of a layer above. Hosts (apps/, hostlib/, include/) include no module
# internals at all. What ships (apps/) includes nothing from tools/, which
# holds generators only, and the frei0r plug-ins take the shared host code
# from apps/hostkit, never from apps/lustra. Prints every include against
# the direction and exits 1 when there is one.
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

# The hosts: apps/ against tools/, apps/frei0r against apps/lustra, in the
# sources and in the include paths their CMake files set.
for file in $(find apps -name '*.cpp' -o -name '*.h' 2>/dev/null | sort); do
    grep -n '^[[:space:]]*#[[:space:]]*include[[:space:]]*"\(\(\.\./\)*tools/\|[^"]*/tools/\|common/\)' "$file" |
        while IFS= read -r line; do
            echo "$file:${line%%:*}: a host includes tools/: ${line#*:}"
        done
    case $file in
    apps/frei0r/*)
        grep -n '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" |
            while IFS= read -r line; do
                target=${line#*\"}
                target=${target%%\"*}
                case $target in
                */lustra/* | lustra/*) echo "$file:${line%%:*}: frei0r includes apps/lustra: ${line#*:}" ;;
                */*) ;;
                *)
                    # A bare name found only among lustra's own files.
                    if [ -e "apps/lustra/$target" ] && [ ! -e "apps/hostkit/$target" ] &&
                        [ ! -e "apps/frei0r/$target" ]; then
                        echo "$file:${line%%:*}: frei0r includes apps/lustra: ${line#*:}"
                    fi
                    ;;
                esac
            done
        ;;
    esac
done >"${TMPDIR:-/tmp}/check-layers.$$"
for file in $(find apps -name CMakeLists.txt -o -name '*.cmake' 2>/dev/null | sort); do
    grep -n 'SOURCE_DIR}/tools\|\.\./tools' "$file" | while IFS= read -r line; do
        echo "$file:${line%%:*}: a host builds from tools/: ${line#*:}"
    done
    case $file in
    apps/frei0r/*)
        grep -n 'apps/lustra\|\.\./lustra' "$file" | while IFS= read -r line; do
            echo "$file:${line%%:*}: frei0r builds from apps/lustra: ${line#*:}"
        done
        ;;
    esac
done >>"${TMPDIR:-/tmp}/check-layers.$$"
if [ -s "${TMPDIR:-/tmp}/check-layers.$$" ]; then
    cat "${TMPDIR:-/tmp}/check-layers.$$"
    echo "check-layers: hosts include tools/, or frei0r includes apps/lustra" >&2
    status=1
fi
rm -f "${TMPDIR:-/tmp}/check-layers.$$"
exit $status
