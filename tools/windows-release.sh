#!/usr/bin/env bash
# Makes the Windows release files from built programs, in the release folder that holds the
# configured tolvane.wxs: the portable zip and the installer (cmake/WindowsRelease.cmake).
# Both are the same bytes at every build of one commit: the files carry the commit's time
# (SOURCE_DATE_EPOCH, else the last commit's), the zip lists them in a fixed order, and the
# installer's own time stamps and package code, which wixl takes from the clock and chance, are
# fixed (faketime, msibuild).
# Arguments: release folder, version, package code, source folder, the programs.
set -euo pipefail
out=$1 version=$2 package_code=$3 src=$4
shift 4
name=tolvane-$version-windows-x64
msi=tolvane-$version-x64.msi
epoch=${SOURCE_DATE_EPOCH:-$(git -C "$src" log -1 --format=%ct 2>/dev/null ||
    stat -c %Y "$src/CMakeLists.txt")}

cd "$out"
rm -rf "$name" "$name.zip" "$msi"
mkdir "$name"
cp "$@" "$name/"
# Windows line ends, for every text viewer there.
sed 's/$/\r/' "$src/README.md" >"$name/README.txt"
sed 's/$/\r/' "$src/data/win32/THIRD-PARTY-NOTICES.txt" >"$name/THIRD-PARTY-NOTICES.txt"
cp "$src/data/icons/org.tolvane.Tolvane.ico" tolvane.ico
cp "$src/data/icons/org.tolvane.Tolvane.Station.ico" station.ico
touch -d "@$epoch" "$name" "$name"/* tolvane.ico station.ico
/usr/bin/python3 "$src/tools/reproducible-zip.py" "$name.zip" "$name" "$epoch"

# The installer: wixl, then the summary's package code (wixl draws one at random) and the
# Environment table that puts the install folder on PATH (wixl 0.101 cannot write one).
at() { TZ=UTC faketime -f "@$(TZ=UTC date -d "@$epoch" '+%Y-%m-%d %H:%M:%S')" "$@"; }
at wixl -a x64 -o "$msi.tmp" tolvane.wxs
at msibuild "$msi.tmp" -s "Tolvane $version installer" "The Tolvane developers" "x64;1033" \
    "{$package_code}"
at msibuild "$msi.tmp" -i "$src/data/win32/Environment.idt"
mv "$msi.tmp" "$msi"
