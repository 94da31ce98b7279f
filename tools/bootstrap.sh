#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need; does nothing when all
# are present. As root it runs apt-get itself; otherwise it prints the exact command and stops.
set -euo pipefail

packages=(
    cmake make g++ pkg-config ccache
    qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    libcli11-dev nlohmann-json3-dev libsystemd-dev libssl-dev
    dbus python3-dbusmock
    clang libclang-rt-14-dev
    fonts-wqy-microhei
    dpkg-dev file lintian desktop-file-utils appstream man-db
    xvfb xdotool unzip
    unixodbc-dev odbc-postgresql libsqliteodbc postgresql
)
# The Windows cross build and wine, without their recommends (which pull in about a gigabyte
# more), as they were measured; and the icon renderer (tools/render-icons.sh).
lean_packages=(
    g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix wine wine64 fonts-wine msitools wixl
    faketime librsvg2-bin
)

missing=() missing_lean=()
for p in "${packages[@]}" "${lean_packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] && continue
    if [[ " ${lean_packages[*]} " == *" $p "* ]]; then missing_lean+=("$p"); else missing+=("$p"); fi
done

[[ ${#missing[@]} -eq 0 && ${#missing_lean[@]} -eq 0 ]] && exit 0

install="DEBIAN_FRONTEND=noninteractive apt-get install -y"
cmd="apt-get update"
[[ ${#missing[@]} -gt 0 ]] && cmd+=" && $install ${missing[*]}"
[[ ${#missing_lean[@]} -gt 0 ]] && cmd+=" && $install --no-install-recommends ${missing_lean[*]}"
if [[ $(id -u) -ne 0 ]]; then
    echo "Missing packages: ${missing[*]} ${missing_lean[*]}" >&2
    echo "Install them as root with:" >&2
    echo "  $cmd" >&2
    exit 1
fi
echo "Installing: ${missing[*]} ${missing_lean[*]}"
apt-get update -qq
[[ ${#missing[@]} -gt 0 ]] && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
[[ ${#missing_lean[@]} -gt 0 ]] &&
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing_lean[@]}"
exit 0
