#!/usr/bin/env bash
# Builds, installs into a staging folder and writes dist/TelmarSetup2.3: the
# setup program with a package of the installed tree appended (one tar.xz
# group and the extraction library). Prints the package's path last.
#   KRV_SKIP_INSTALL=1  do not run the package installer
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
# 0x10: /extract is allowed. The tree is group type 7 of set 1, so
# /extract puts it into the folder given.
build/bin/krv-package-builder --program build/bin/TelmarSetup2.3 --out dist/TelmarSetup2.3 \
    --flags 0x10 --library build/bin/libkrv_extraction.so \
    --group 7 1 telmar.txz "$stage/tree" >/dev/null
echo "$PWD/dist/TelmarSetup2.3"
