#!/usr/bin/env bash
# Installs the dependencies, builds everything and runs every test: once in a
# plain build, once under AddressSanitizer and UndefinedBehaviorSanitizer.
#   KRV_SKIP_INSTALL=1     do not run the package installer
#   KRV_JOBS=N             build and test with N jobs (default: one per processor)
#   KRV_SKIP_SANITIZERS=1  only the plain build
set -euo pipefail
cd "$(dirname "$0")/.."
. ./scripts/jobs.sh
if [ "${KRV_SKIP_INSTALL:-0}" != 1 ]; then ./scripts/install-deps.sh; fi
./scripts/check-format.sh
export QT_QPA_PLATFORM=offscreen

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKRV_BUILD_CONSOLE=ON -DKRV_SANITIZE=OFF
cmake --build build -j"$jobs"
(cd build && ctest --output-on-failure -j"$jobs")

if [ "${KRV_SKIP_SANITIZERS:-0}" != 1 ]; then
    cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DKRV_SANITIZE=ON -DKRV_BUILD_CONSOLE=ON
    cmake --build build-asan -j"$jobs"
    export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
    export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
    (cd build-asan && ctest --output-on-failure -j"$jobs")
fi
