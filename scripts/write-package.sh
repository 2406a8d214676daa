#!/usr/bin/env bash
# Writes the setup package of an installed tree: the setup program with a
# package appended that carries the main installer package of the tree and
# the installer program krv-msiexec as a prerequisite, so that the setup
# alone installs the product on a machine without krv-msiexec.
#   write-package.sh BIN_DIR TREE OUT [VERSION]
# BIN_DIR holds TelmarSetup2.3, krv-msiexec and krv-package-builder.
set -euo pipefail
if [ $# -lt 3 ] || [ $# -gt 4 ]; then
    echo "usage: $0 BIN_DIR TREE OUT [VERSION]" >&2
    exit 2
fi
bin=$1 tree=$2 out=$3 version=${4:-2.3.0}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d /tmp/krv-package-XXXXXX)
trap 'rm -rf "$work"' EXIT

product_code='{4C1E2A57-0D3B-4E8F-9A21-7B6C5D4E3F20}'
upgrade_code='{9E8D7C6B-5A49-4837-A625-1F0E2D3C4B5A}'
# The package code names this very package: the same tree and version give
# the same code (a second run is maintenance), any change a new one.
digest=$( (cd "$tree" && find . -type f -print0 | sort -z | xargs -0 md5sum; echo "$version") |
    md5sum | cut -c1-32 | tr a-f A-F)
package_code="{${digest:0:8}-${digest:8:4}-${digest:12:4}-${digest:16:4}-${digest:20:12}}"

cat > "$work/properties" <<PROPERTIES
ProductCode=$product_code
ProductVersion=$version
UpgradeCode=$upgrade_code
PackageCode=$package_code
ProductName=Telmar 2.3
ProductLanguage=1049
INSTALLDIR=[ProgramFilesFolder]Telmar\Telmar 2.3\\
PROPERTIES
# The setup's settings (CR LF lines): minor upgrades allowed ("u"); the
# product installs into system folders, so only a user who may write them
# gets past the launch conditions. The installer program comes with the
# package: when [SystemFolder]krv-msiexec is missing or older than MinWIVer
# (the version krv-msiexec carries), the mandatory prerequisite puts it
# there before the main installer package runs.
installer_line='"[SystemFolder]krv-msiexec"'
printf '%s\r\n' '[GeneralOptions]' 'Options=u' 'MinWIVer=5.0' "ProductCode=$product_code" \
    "UpgradeCode=$upgrade_code" "PackageCode=$package_code" "ProductVersion=$version" \
    '[GlobalLaunchConds]' 'AdminPrivileges=1' \
    '[PREREQUISITES]' 'App1=krv-msiexec' \
    '[krv-msiexec]' 'VerMin=5.0' 'SetupFile=krv-msiexec/install' 'Options=m' \
    "CommandLine=$installer_line" "BasicUiCommandLine=$installer_line" \
    "NoUiCommandLine=$installer_line" \
    'SearchType1=0' 'SearchString1=[SystemFolder]krv-msiexec' 'VerMin1=5.0' \
    > "$work/settings.ini"

# Container flags: settings (0x2), the integrity check (0x4), /extract
# allowed (0x10). The main installer package is entry type 0 of set 1; the
# prerequisite's setup file and the program it installs are entries of
# type 4 in set 100, extracted together.
mkdir -p "$(dirname "$out")"
"$bin/krv-package-builder" --program "$bin/TelmarSetup2.3" --out "$out" \
    --flags 0x16 --settings "$work/settings.ini" \
    --installer 0 1 Telmar23.msi "$tree" "$work/properties" \
    --stored 4 100 krv-msiexec/install "$here/../tools/package/install-krv-msiexec.sh" \
    --stored 4 100 krv-msiexec/krv-msiexec "$bin/krv-msiexec" >/dev/null
