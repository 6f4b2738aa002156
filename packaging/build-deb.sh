#!/usr/bin/env bash
# Builds the Debian package of the game in a build folder of its own, with
# Debian's hardening flags and the page file in /var/games/weekend.
#
#   packaging/build-deb.sh [BUILD_DIR [CMAKE_OPTION...]]
#
# BUILD_DIR defaults to build-deb; CMake options after it are passed on
# (a test builds the package with -DWEEKEND_IDLE_LIMIT=SECONDS).
# The last line printed is the path of the .deb.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(realpath -m "${1:-$repo/build-deb}")
shift $(($# > 0))
cd "$repo"

# dpkg-dev brings dpkg-buildflags and dpkg-shlibdeps.
tools/need-packages cmake ninja-build g++ dpkg-dev >&2

export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=g++ -DWEEKEND_TESTS=OFF \
  -DCMAKE_INSTALL_PREFIX=/usr -DWEEKEND_PAGE_FILE=/var/games/weekend/flags \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" "$@" >&2
# Only what the package holds.
cmake --build "$build" -j 2 --target weekend packaging_files >&2
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB >&2)
ls "$build"/*.deb
