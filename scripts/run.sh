#!/usr/bin/env bash
# Starts the wizard. Without a display (a server, a container, an ssh session without X) it says
# so and shows the engine at work through the command line on the bundled sample image instead.
#
# usage: scripts/run.sh [BUILD_DIR]          (default: build)
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
sample="$root/samples/sample-disk.vmdk"

cli_demo() {
    echo "== vindaru-cli info $sample"
    "$build/vindaru-cli" info "$sample" || return
    echo "== vindaru-cli volumes $sample"
    "$build/vindaru-cli" volumes "$sample" || return
    local out
    out=$(mktemp -d "${TMPDIR:-/tmp}/vindaru-demo-XXXXXX")
    echo "== vindaru-cli export $sample $out"
    "$build/vindaru-cli" export "$sample" "$out"
}

if [[ -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ]] && [[ -x "$build/vindaru" ]]; then
    "$build/vindaru"
    status=$?
    # 0: closed by the user. Anything else before a window appeared means no usable display
    # (Qt aborts when it cannot reach the display server).
    [[ $status -eq 0 ]] && exit 0
    echo "The wizard could not open a window on this display (exit status $status)." >&2
else
    if [[ ! -x "$build/vindaru" ]]; then
        echo "The wizard was not built (Qt 6 missing?): $build/vindaru." >&2
    else
        echo "No display found (DISPLAY and WAYLAND_DISPLAY are not set): the wizard needs a" \
            "desktop session." >&2
    fi
fi
echo "Running the command-line demo on the sample image instead." >&2
cli_demo
