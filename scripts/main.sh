#!/usr/bin/env bash
# Installs the dependencies, builds what it runs (the driver, the console and
# the printer emulator; ./scripts/test.sh builds the rest) and runs the
# service console. With no printer named (KRV_COM1 unset) the console talks
# to the printer emulator on a pseudo-terminal.
#   KRV_SKIP_INSTALL=1  do not run the package installer
#   KRV_JOBS=N          build with N jobs (default: one per processor)
set -euo pipefail
cd "$(dirname "$0")/.."
. ./scripts/jobs.sh
if [ "${KRV_SKIP_INSTALL:-0}" != 1 ]; then ./scripts/install-deps.sh; fi
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKRV_BUILD_CONSOLE=ON -DKRV_SANITIZE=OFF
cmake --build build -j"$jobs" --target KRV_T100DRV Telmar23 krv-emulator
exec ./scripts/run-console.sh
