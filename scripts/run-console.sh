#!/bin/sh
# Starts an emulated printer on a pseudo-terminal and the service console on
# it (port COM1 in the console's list). The build is expected in ./build.
#
#   scripts/run-console.sh [console arguments...]     e.g.  -free
#
# Environment: BUILD_DIR (default build), KRV_EMULATOR_ARGS (extra emulator
# options, e.g. "--model t200"), KRV_EMULATOR_LINK (the emulator's link; by
# default a link of this run alone, in a folder of its own that goes with
# the run, so runs side by side never meet). With KRV_COM1 already set (a
# real printer, e.g. KRV_COM1=/dev/ttyUSB0) no emulator is started and the
# console talks to that port.
set -eu

build_dir=${BUILD_DIR:-build}
emulator="$build_dir/bin/krv-emulator"
console="$build_dir/bin/Telmar23"

for program in "$emulator" "$console"; do
    if [ ! -x "$program" ]; then
        echo "run-console: $program not found; build first (cmake --build $build_dir)" >&2
        exit 1
    fi
done

if [ -n "${KRV_COM1:-}" ]; then
    exec "$console" "$@"
fi

link_dir=
emulator_pid=
finish() {
    if [ -n "$emulator_pid" ]; then
        kill "$emulator_pid" 2>/dev/null || true
        wait "$emulator_pid" 2>/dev/null || true
    fi
    if [ -n "$link_dir" ]; then rm -rf "$link_dir"; fi
}
trap finish EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
if [ -n "${KRV_EMULATOR_LINK:-}" ]; then
    link=$KRV_EMULATOR_LINK
    # A link a stopped run left behind; the emulator makes it again.
    if [ -L "$link" ]; then rm -f "$link"; fi
else
    link_dir=$(mktemp -d "${TMPDIR:-/tmp}/krv-console-XXXXXX")
    link="$link_dir/com1"
fi

# shellcheck disable=SC2086  # the extra options are meant to split
"$emulator" --link "$link" ${KRV_EMULATOR_ARGS:-} &
emulator_pid=$!

# Wait for the emulator's link (at most about five seconds).
tries=0
while [ ! -e "$link" ]; do
    if ! kill -0 "$emulator_pid" 2>/dev/null; then
        echo "run-console: the emulator did not start" >&2
        exit 1
    fi
    tries=$((tries + 1))
    if [ "$tries" -gt 50 ]; then
        echo "run-console: no link at $link from the emulator" >&2
        exit 1
    fi
    sleep 0.1
done

export KRV_COM1="$link"
status=0
"$console" "$@" || status=$?
exit "$status"
