#!/bin/sh
# The setup file of the package's installer prerequisite: puts the
# krv-msiexec extracted beside this script at the path given, which the
# setup's settings name as [SystemFolder]krv-msiexec.
set -eu
if [ $# -ne 1 ] || [ -z "$1" ]; then
    echo "usage: $0 TARGET" >&2
    exit 2
fi
install -D -m 0755 "$(dirname "$0")/krv-msiexec" "$1"
