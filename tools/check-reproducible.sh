#!/usr/bin/env bash
# Two release builds (tools/make-release.sh) of the committed sources, unpacked into two folders
# of different names and depths, without the compiler cache, compared byte for byte
# (make check-reproducible). Prints what differs inside a file that does.
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
scratch=$src/build-reproducible
rm -rf "$scratch"
trap 'rm -rf "$scratch"' EXIT
export SOURCE_DATE_EPOCH=$(git -C "$src" log -1 --format=%ct)
unset CMAKE_CXX_COMPILER_LAUNCHER CMAKE_C_COMPILER_LAUNCHER
export CCACHE_DISABLE=1
trees=("$scratch/a/tolvane" "$scratch/second-copy/somewhere/else/tolvane")
for tree in "${trees[@]}"; do
    mkdir -p "$tree"
    git -C "$src" archive HEAD | tar -x -C "$tree"
    "$tree/tools/make-release.sh" "$tree/build/release" "$tree/build-release" >/dev/null
done

one=${trees[0]}/build/release two=${trees[1]}/build/release
status=0
for file in $(cd "$one" && ls); do
    if cmp -s "$one/$file" "$two/$file"; then
        echo "same: $file ($(stat -c %s "$one/$file") bytes)"
        continue
    fi
    status=1
    echo "DIFFERENT: $file"
    case $file in
    *.zip) diff <(unzip -lv "$one/$file") <(unzip -lv "$two/$file") | head -20 ;;
    *.deb)
        listing() { dpkg-deb --fsys-tarfile "$1" | tar -tv --full-time; }
        diff <(listing "$one/$file") <(listing "$two/$file") | head -10
        dpkg-deb -R "$one/$file" "$scratch/x1" && dpkg-deb -R "$two/$file" "$scratch/x2"
        diff -rq "$scratch/x1" "$scratch/x2" | head -10
        rm -rf "$scratch/x1" "$scratch/x2"
        ;;
    esac
    cmp -l "$one/$file" "$two/$file" | wc -l | sed 's/^/  bytes differing: /'
done
exit $status
