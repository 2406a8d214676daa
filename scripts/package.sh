#!/usr/bin/env bash
# Builds what it ships in a release build of its own (build-release: -O2 and
# NDEBUG like the tested build, not touched by the development build's
# options), installs it stripped into a staging folder (the debug information
# stays in the build folder) and writes dist/TelmarSetup2.3: the setup
# program with a package appended whose main installer package holds the
# installed tree (driver, console ...) and which carries krv-msiexec, the
# installer the setup starts (scripts/write-package.sh). Prints the
# package's path last.
#   KRV_SKIP_INSTALL=1          do not run the package installer
#   KRV_JOBS=N                  build with N jobs (default: one per processor)
#   KRV_PRODUCT_VERSION=2.3.0   the version the package installs
# Try it:  dist/TelmarSetup2.3 /exenoui /extract /some/empty/folder
set -euo pipefail
cd "$(dirname "$0")/.."
. ./scripts/jobs.sh
if [ "${KRV_SKIP_INSTALL:-0}" != 1 ]; then ./scripts/install-deps.sh; fi
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKRV_BUILD_CONSOLE=ON -DKRV_SANITIZE=OFF \
    -DKRV_BUILD_TESTS=OFF
cmake --build build-release -j"$jobs" --target KRV_T100DRV Telmar23 krv-emulator \
    TelmarSetup2.3 krv-msiexec krv-package-builder

stage=$(mktemp -d /tmp/krv-stage-XXXXXX)
trap 'rm -rf "$stage"' EXIT
cmake --install build-release --prefix "$stage/tree" --strip >/dev/null
# The setup program the package is appended to, the installer it carries and
# the builder, stripped too; they stay out of the installed tree.
cmake --install build-release --prefix "$stage/tools" --component packaging --strip >/dev/null
mkdir -p dist

./scripts/write-package.sh "$stage/tools/bin" "$stage/tree" dist/TelmarSetup2.3 \
    "${KRV_PRODUCT_VERSION:-2.3.0}"
echo "$PWD/dist/TelmarSetup2.3"
