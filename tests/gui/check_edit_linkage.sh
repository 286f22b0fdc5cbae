#!/bin/sh
# check_edit_linkage.sh PROGRAM PLUGIN: the lustra program needs no Qt
# library (directly or through another), and the edit plug-in exports
# exactly its entry point. Exit 77 (skipped) without readelf and nm.
program=$1
plugin=$2
command -v readelf >/dev/null && command -v nm >/dev/null || exit 77
status=0
if readelf -d "$program" | grep NEEDED | grep -i qt; then
    echo "check_edit_linkage: $program links Qt" >&2
    status=1
fi
if ldd "$program" | grep -i 'libqt'; then
    echo "check_edit_linkage: $program loads Qt through another library" >&2
    status=1
fi
exported=$(nm -D --defined-only "$plugin" | awk '{ print $NF }' | sort)
if [ "$exported" != "lustra_edit_main" ]; then
    echo "check_edit_linkage: $plugin exports $(echo "$exported" | wc -l) symbols:" \
        $(echo "$exported" | head -n 5) ... >&2
    status=1
fi
if ! readelf -d "$plugin" | grep NEEDED | grep -q 'libQt6Widgets'; then
    echo "check_edit_linkage: $plugin does not link Qt 6 Widgets" >&2
    status=1
fi
exit $status
