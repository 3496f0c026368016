#!/bin/sh
# Runs a Windows test program under Wine with the build folder's own prefix.
# CTest starts tests in the build tree, so the prefix is found from the program's path.
prog=$1
dir=$(cd "$(dirname "$prog")" && pwd)
while [ "$dir" != / ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir=$(dirname "$dir"); done
export WINEPREFIX="${WINEPREFIX:-$dir/wineprefix}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# Wine's desktop integration writes below the home folder: keep it inside the build folder.
export HOME="$dir/winehome" XDG_CONFIG_HOME="$dir/winehome/.config" \
    XDG_DATA_HOME="$dir/winehome/.local/share" XDG_CACHE_HOME="$dir/winehome/.cache"
exec wine "$@"
