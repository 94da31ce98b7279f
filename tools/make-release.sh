#!/usr/bin/env bash
# Everything a release holds, made from the sources alone (make release): the Windows installer
# and zip, the Debian package as `make package` makes it, and SHA256SUMS over them, in the
# release folder (default build/release). Builds in folders of its own (default build-release)
# with the reproducible settings: two runs from one commit, in any two folders, give the same
# bytes (tools/check-reproducible.sh).
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$src/build/release}
work=${2:-$src/build-release}
jobs=${JOBS:-$(nproc)}
# The time every file of the release carries: the last commit's (in an unpacked source archive,
# which carries that time on every file, the files').
if [[ -z ${SOURCE_DATE_EPOCH:-} ]]; then
    SOURCE_DATE_EPOCH=$(git -C "$src" log -1 --format=%ct 2>/dev/null ||
        stat -c %Y "$src/CMakeLists.txt")
fi
export SOURCE_DATE_EPOCH

# The Windows programs stripped, as a user gets them; -O1 as `make windows` builds them.
cmake -S "$src" -G "Unix Makefiles" -B "$work/windows" \
    -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release \
    "-DCMAKE_CXX_FLAGS_RELEASE=-O1 -DNDEBUG" -DCMAKE_EXE_LINKER_FLAGS_RELEASE=-s \
    -DTOLVANE_REPRODUCIBLE=ON >/dev/null
cmake --build "$work/windows" -j "$jobs" --target windows_release

# Only what the package holds is built: CPack installs without building the rest first.
cmake -S "$src" -G "Unix Makefiles" -B "$work/linux" -DTOLVANE_REPRODUCIBLE=ON -DTOLVANE_BENCH=OFF \
    -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
cmake --build "$work/linux" -j "$jobs" \
    --target tolvane tolvane-station tolvane-flash tolvane-pack tolvane-devsim tolvane_compressed_docs
(cd "$work/linux" && rm -f tolvane_*.deb && cpack -G DEB >/dev/null)

rm -rf "$out"
mkdir -p "$out"
cp "$work"/windows/release/tolvane-*.msi "$work"/windows/release/tolvane-*.zip \
    "$work"/linux/tolvane_*.deb "$out/"
cd "$out"
sha256sum -- *.msi *.zip *.deb >SHA256SUMS
echo "release in $out:"
ls -l
