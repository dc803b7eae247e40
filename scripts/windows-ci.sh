#!/usr/bin/env bash
# The Windows part of CI, run from the top of the sources once the Linux build
# exists in ./build: cross-build the Windows programs with mingw-w64, run the
# module, driver and model tests under Wine, pack the release zip, then run
# the Linux build's Wine end-to-end tests against the .exe files.
# Needs no display: Wine runs with no X server and opens no window.
set -euo pipefail
cd "$(dirname "$0")/.."

[ -d build ] || { echo "windows-ci.sh: build the Linux preset first (./build)" >&2; exit 1; }

# No dialog (Mono and Gecko installers, crash windows) and no debug chatter.
unset DISPLAY WAYLAND_DISPLAY
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

start=$SECONDS
cmake --preset windows
cmake --build --preset windows
echo "windows-ci.sh: cross build done in $((SECONDS - start)) s"

ctest --preset windows
cmake --build --preset windows --target release_zip

cmake -S . -B build -DORVANE_WINDOWS_BUILD_DIR="$PWD/build-windows"
cmake --build build -j2
echo "windows-ci.sh: Windows build and tests under Wine took $((SECONDS - start)) s; now the Wine end-to-end runs"
# Last, so that the output ends with CTest's summary.
ctest --test-dir build -L wine --output-on-failure -j4
