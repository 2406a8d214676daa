#!/usr/bin/env bash
# Installs every Debian package the build and the tests need.
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends \
    build-essential cmake pkg-config \
    qt6-base-dev libgl-dev \
    qt6-translations-l10n \
    curl \
    libjpeg-dev libcurl4-openssl-dev libssl-dev liblzma-dev libarchive-dev \
    libgtest-dev libgmock-dev \
    clang-format openssl xz-utils python3 python3-pyftpdlib \
    locales fonts-dejavu-core fonts-liberation2
