#!/usr/bin/env bash
# The Windows release files (build-win/release) under wine, as a user meets them: the installer
# installed quietly, used (the flasher by its bare name through PATH, the window started and
# closed with its settings in %APPDATA%\Tolvane), replaced by a newer version and removed; the
# zip's programs run from an unpacked folder and keep Config.ini there; the installer's product
# data and the programs' version resources read back. Called by run-tests.sh with the server
# and DISPLAY up.
set -uo pipefail
win=$1
. "$(dirname "$0")/checks.sh"
. "$(dirname "$0")/window-helpers.sh"
run() { timeout 120 "$win/wine-run.sh" "$@"; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

release=$win/release
msi=$(ls "$release"/tolvane-*-x64.msi)
version=${msi##*/tolvane-}
version=${version%-x64.msi}
zip=$release/tolvane-$version-windows-x64.zip
programs=(tolvane.exe tolvane-station.exe tolvane-flash.exe tolvane-pack.exe)
installed_files=(README.txt THIRD-PARTY-NOTICES.txt "${programs[@]}")
upgrade_code='{C03CCC74-8543-4CC5-BE83-F870CD2403C0}'
caption="^Tolvane ${version//./\\.}\$"

properties=$(msiinfo export "$msi" Property | tr -d '\r')
property() { awk -F '\t' -v name="$1" '$1 == name { print $2 }' <<<"$properties"; }
product_code=$(property ProductCode)
check "the installer names the product Tolvane" test "$(property ProductName)" = Tolvane
check "the installer's version is $version" test "$(property ProductVersion)" = "$version"
check "the installer's upgrade code is $upgrade_code" test "$(property UpgradeCode)" = "$upgrade_code"

stage=$release/tolvane-$version-windows-x64
shown=$(run "$win/bin/window-probe.exe" version "${programs[@]/#/$stage/}" | tr -d '\r')
resource() { sed -n "/\/${1//./\\.}]\$/,/^icons=/p" <<<"$shown"; }
for program in "${programs[@]}"; do
    check "$program carries its version resource" test "$(resource "$program" |
        grep -E '^(FileVersion|ProductVersion|ProductName)=')" = \
        "$(printf 'FileVersion=%s\nProductVersion=%s\nProductName=Tolvane' "$version" "$version")"
    check "$program describes itself" grep -qE '^FileDescription=Tolvane' <(resource "$program")
done
check "tolvane.exe carries its icon" grep -qx 'icons=1' <(resource tolvane.exe)
check "tolvane-station.exe carries its icon" grep -qx 'icons=1' <(resource tolvane-station.exe)

folder=$WINEPREFIX/drive_c/Program\ Files/Tolvane
appdata=$(winepath -u "$(run cmd /c echo %APPDATA% | tr -d '\r')")
user_ini=$appdata/Tolvane/Config.ini
env_key='HKLM\System\CurrentControlSet\Control\Session Manager\Environment'
# Wine 8 leaves the separator of a removed PATH entry behind, and its cmd stops searching PATH at
# an empty entry: the system PATH is tidied before each installation.
tidy_path() {
    local value
    value=$(run reg query "$env_key" /v PATH | tr -d '\r' | sed -n 's/^ *PATH *REG_EXPAND_SZ *//p')
    value=$(sed -e 's/;;*/;/g' -e 's/;$//' <<<"$value")
    run reg add "$env_key" /v PATH /t REG_EXPAND_SZ /d "$value" /f >/dev/null
}
on_path() { run cmd /c echo %PATH% | grep -qi 'program files\\tolvane'; }
menu_entry() { find "$WINEPREFIX/drive_c" -path '*/Start Menu/Programs/Tolvane.lnk' | grep -q .; }
station_entry() {
    find "$WINEPREFIX/drive_c" -path '*/Start Menu/Programs/Tolvane Station.lnk' | grep -q .
}
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
rm -rf "$appdata/Tolvane"
# What an interrupted earlier run may have left installed.
[[ ! -e $folder ]] || run msiexec /x "$msi" /qn

tidy_path
run msiexec /i "$msi" /qn
status=$?
check "msiexec /i installs quietly (status $status)" test "$status" -eq 0
listing() { (cd "$folder" 2>/dev/null && ls -A); }
check "the installed folder holds the programs, README and notices" \
    test "$(listing)" = "$(printf '%s\n' "${installed_files[@]}" | LC_ALL=C sort)"
check "the Start menu has the entry Tolvane" menu_entry
check "the Start menu has the entry Tolvane Station" station_entry
entry=$(run reg query "$uninstall_key\\$product_code" | tr -d '\r')
check "Apps & features lists Tolvane $version" \
    grep -qE "DisplayVersion +REG_SZ +$version\$" <<<"$entry"
shown=$(run cmd /c tolvane-flash --version | tr -d '\r')
check "cmd /c tolvane-flash --version finds it by its bare name ($shown)" \
    test "$shown" = "tolvane-flash $version"

run "C:\\Program Files\\Tolvane\\tolvane.exe" >/dev/null 2>&1 &
window=$(find_window "$caption")
check "the installed window comes up" test -n "$window"
[[ -z $window ]] || close_with_alt_f4 "$window" "$caption" "$user_ini"
check "closing it writes Config.ini under %APPDATA%\\Tolvane" test -f "$user_ini"
check "and nothing beside itself ($(listing | tr '\n' ' '))" \
    test "$(listing)" = "$(printf '%s\n' "${installed_files[@]}" | LC_ALL=C sort)"

run msiexec /x "$msi" /qn
status=$?
check "msiexec /x removes it quietly (status $status)" test "$status" -eq 0
check "every installed file is gone" test ! -e "$folder"
check "the Start-menu entry is gone" eval '! menu_entry'
check "the station's Start-menu entry is gone" eval '! station_entry'
check "PATH no longer holds the folder" eval '! on_path'
check "the user's Config.ini stays" test -f "$user_ini"

# A newer version replaces this one: an installer of the next version (same files, its own
# product code) installed over it leaves only itself registered. Windows Installer compares the
# first three parts of versions only, so the next version is the next third part.
IFS=. read -r major minor patch _ <<<"$version"
next_version=$major.$minor.$((patch + 1)).0
bare_code=${product_code#\{}
bare_code=${bare_code%\}}
next_code=11111111-2222-4333-8444-$(printf '%012d' "$((patch + 1))")
sed -e "s/Version=\"$version\"/Version=\"$next_version\"/" \
    -e "s/Id=\"$bare_code\"/Id=\"$next_code\"/" "$release/tolvane.wxs" >"$work/next.wxs"
(cd "$release" && wixl -a x64 -o "$work/next.msi" "$work/next.wxs")
run msiexec /i "$msi" /qn
run msiexec /i "$work/next.msi" /qn
status=$?
check "version $next_version installs over $version (status $status)" test "$status" -eq 0
check "which is no longer registered" eval '! run reg query "$uninstall_key\\$product_code" >/dev/null 2>&1'
check "the programs are still there" test -f "$folder/tolvane.exe"
run msiexec /x "$work/next.msi" /qn
check "and removing $next_version leaves nothing" test ! -e "$folder"

# The portable copy: unpacked anywhere, it keeps Config.ini beside itself.
rm -rf "$appdata/Tolvane"
unzip -q "$zip" -d "$work"
portable=$work/tolvane-$version-windows-x64
shown=$(run "$portable/tolvane-flash.exe" --version | tr -d '\r')
check "the zip's flasher runs ($shown)" test "$shown" = "tolvane-flash $version"
run "$portable/tolvane.exe" >/dev/null 2>&1 &
window=$(find_window "$caption")
check "the zip's window comes up" test -n "$window"
[[ -z $window ]] || close_with_alt_f4 "$window" "$caption" "$portable/Config.ini"
check "closing it writes Config.ini beside it" test -f "$portable/Config.ini"
check "and nothing under %APPDATA%\\Tolvane" test ! -e "$appdata/Tolvane"

exit $((failures > 0))
