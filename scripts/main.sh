#!/usr/bin/env bash
# Installs the dependencies, builds, and runs the service console. With no
# printer named (KRV_COM1 unset) the console talks to the printer emulator on
# a pseudo-terminal.
#   KRV_SKIP_INSTALL=1  do not run the package installer
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${KRV_SKIP_INSTALL:-0}" != 1 ]; then ./scripts/install-deps.sh; fi
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKRV_BUILD_CONSOLE=ON -DKRV_SANITIZE=OFF
cmake --build build -j"$(nproc)"
if [ -x build/bin/Telmar23 ] && [ -x scripts/run-console.sh ]; then
    exec ./scripts/run-console.sh
fi
echo "The console is not built yet; serving the printer emulator (Ctrl+C ends it)."
exec build/bin/krv-emulator --link /tmp/krv-com1
