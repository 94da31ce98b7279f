#!/usr/bin/env bash
# Builds the Debian package from an already built tree and checks it as a user would meet it:
# lintian, the desktop entry and the AppStream metainfo as installed, the package unpacked into
# a scratch root, every command-line program started with --version and the desktop entry's
# command starting the window.
set -euo pipefail
build=${1:-build}
cd "$build"
rm -f tolvane_*.deb
cpack -G DEB >/dev/null 2>&1 || cpack -G DEB
deb=$(ls tolvane_*.deb)
echo "package: $build/$deb"

# Errors fail the check; warnings are shown.
lint=0
report=$(lintian --fail-on error --tag-display-limit 0 "$deb" 2>/dev/null) || lint=$?
echo "lintian: ${report:-no errors, no warnings}"
[[ $lint -eq 0 ]] || { echo "lintian reports errors" >&2; exit 1; }

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
dpkg -x "$deb" "$scratch/root"
# As root (CI), also let dpkg check that the dependencies are satisfied.
if [[ $(id -u) -eq 0 ]]; then dpkg --dry-run -i "$deb" >/dev/null; fi

share=$scratch/root/usr/share
desktop-file-validate "$share/applications/org.tolvane.Tolvane.desktop"
desktop-file-validate "$share/applications/org.tolvane.Tolvane.Station.desktop"
appstreamcli validate --no-net --pedantic "$share/metainfo/org.tolvane.Tolvane.metainfo.xml" >/dev/null ||
    appstreamcli validate --no-net "$share/metainfo/org.tolvane.Tolvane.metainfo.xml"

for program in "$scratch"/root/usr/bin/*; do
    name=$(basename "$program")
    [[ $name == tolvane ]] && continue # the window takes no options (tolvane-station does)
    out=$("$program" --version)
    [[ $out == "$name "* ]] || { echo "$name --version printed: $out" >&2; exit 1; }
    echo "$out"
    man -l "$share/man/man1/$name.1.gz" >/dev/null 2>&1 || { echo "no manual page for $name" >&2; exit 1; }
done

# Each desktop entry's command starts its window (offscreen, a private home) with its icon
# installed: still running after two seconds, then stopped.
mkdir -p "$scratch/home"
for entry in org.tolvane.Tolvane org.tolvane.Tolvane.Station; do
    exec_line=$(sed -n 's/^Exec=//p' "$share/applications/$entry.desktop")
    icon=$(sed -n 's/^Icon=//p' "$share/applications/$entry.desktop")
    [[ -f $share/icons/hicolor/48x48/apps/$icon.png ]] || { echo "$entry: no icon $icon" >&2; exit 1; }
    status=0
    HOME=$scratch/home XDG_CONFIG_HOME=$scratch/home/.config QT_QPA_PLATFORM=offscreen \
        timeout 2 "$scratch/root/usr/bin/$exec_line" >/dev/null 2>&1 || status=$?
    [[ $status -eq 124 ]] || { echo "$entry: the window did not keep running (status $status)" >&2; exit 1; }
    echo "desktop entry $entry: '$exec_line' starts the window"
done
