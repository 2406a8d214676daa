#!/usr/bin/env bash
# Builds, installs into a staging folder and writes dist/TelmarSetup2.3: the
# setup program with a package appended whose main installer package holds
# the installed tree (driver, console ...) and which carries krv-msiexec,
# the installer the setup starts (scripts/write-package.sh). Prints the
# package's path last.
#   KRV_SKIP_INSTALL=1          do not run the package installer
#   KRV_PRODUCT_VERSION=2.3.0   the version the package installs
# Try it:  dist/TelmarSetup2.3 /exenoui /extract /some/empty/folder
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${KRV_SKIP_INSTALL:-0}" != 1 ]; then ./scripts/install-deps.sh; fi
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKRV_BUILD_CONSOLE=ON -DKRV_SANITIZE=OFF
cmake --build build -j"$(nproc)"

stage=$(mktemp -d /tmp/krv-stage-XXXXXX)
trap 'rm -rf "$stage"' EXIT
cmake --install build --prefix "$stage/tree" >/dev/null
mkdir -p dist

./scripts/write-package.sh build/bin "$stage/tree" dist/TelmarSetup2.3 \
    "${KRV_PRODUCT_VERSION:-2.3.0}"
echo "$PWD/dist/TelmarSetup2.3"
