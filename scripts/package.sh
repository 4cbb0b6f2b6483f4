#!/usr/bin/env bash
# Builds the Debian package from a release build: build/package/halvex-linvera_<version>_<arch>.deb.
# Install it with: sudo apt-get install ./build/package/halvex-linvera_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/setup.sh
build=build/package
# Debian's hardening flags, as a package built by dpkg-buildpackage would get them.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DLINVERA_BUILD_TESTS=OFF -DLINVERA_BUILD_BENCH=OFF \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)"
cmake --build "$build" -j"$(nproc)"
(cd "$build" && cpack -G DEB -B "$PWD")
ls -1 "$build"/*.deb
