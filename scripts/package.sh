#!/usr/bin/env bash
# Builds, installs into a staging folder and writes dist/TelmarSetup2.3: the
# setup program with a package appended whose main installer package holds
# the installed tree (driver, console ...). Also writes dist/krv-msiexec, the
# installer the setup starts (the system's installer: it belongs in
# /usr/lib, see the README). Prints the package's path last.
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

version=${KRV_PRODUCT_VERSION:-2.3.0}
product_code='{4C1E2A57-0D3B-4E8F-9A21-7B6C5D4E3F20}'
upgrade_code='{9E8D7C6B-5A49-4837-A625-1F0E2D3C4B5A}'
# The package code names this very package: the same tree and version give
# the same code (a second run is maintenance), any change a new one.
digest=$( (cd "$stage/tree" && find . -type f -print0 | sort -z | xargs -0 md5sum; echo "$version") |
    md5sum | cut -c1-32 | tr a-f A-F)
package_code="{${digest:0:8}-${digest:8:4}-${digest:12:4}-${digest:16:4}-${digest:20:12}}"

cat > "$stage/properties" <<PROPERTIES
ProductCode=$product_code
ProductVersion=$version
UpgradeCode=$upgrade_code
PackageCode=$package_code
ProductName=Telmar 2.3
ProductLanguage=1049
INSTALLDIR=[ProgramFilesFolder]Telmar\Telmar 2.3\\
PROPERTIES
# The setup's settings (CR LF lines): minor upgrades allowed ("u").
printf '%s\r\n' '[GeneralOptions]' 'Options=u' "ProductCode=$product_code" \
    "UpgradeCode=$upgrade_code" "PackageCode=$package_code" "ProductVersion=$version" \
    > "$stage/settings.ini"

# Container flags: settings (0x2), the integrity check (0x4), /extract
# allowed (0x10). The main installer package is entry type 0 of set 1.
build/bin/krv-package-builder --program build/bin/TelmarSetup2.3 --out dist/TelmarSetup2.3 \
    --flags 0x16 --settings "$stage/settings.ini" \
    --installer 0 1 Telmar23.msi "$stage/tree" "$stage/properties" >/dev/null
cp build/bin/krv-msiexec dist/krv-msiexec
echo "$PWD/dist/TelmarSetup2.3"
