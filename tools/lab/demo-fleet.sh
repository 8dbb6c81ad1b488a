#!/usr/bin/env bash
# The fleet window's demo. Runs on the demo's site of twelve cameras, through
# demo-ordelctl.sh, in the folder that holds the sample image. With a display
# it opens the window with the image and the version it installs filled in;
# without one it runs a whole rollout by itself under Xvfb (the IPC-D240
# cameras not on 2.9.0 chosen, checked, updated side by side and verified)
# and saves a picture of the finished table.
#
#   demo-fleet.sh BIN_DIR
#
# The picture goes to DEMO_FLEET_SCREENSHOT, or BIN_DIR/demo-fleet-window.png.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/children.sh"
source "$(dirname "${BASH_SOURCE[0]}")/xvfb.sh"

bin_dir=$1
readonly image=camera-fw-2.9.0.bin version=2.9.0
screenshot=${DEMO_FLEET_SCREENSHOT:-$bin_dir/demo-fleet-window.png}
work=$(mktemp -d)
pids=()

cleanup() {
    end_children
    rm -rf "$work"
}
trap cleanup EXIT

if [[ -n ${DISPLAY:-}${WAYLAND_DISPLAY:-} ]]; then
    echo "demo: press Search (F5), pick the type IPC-D240, Select Outdated, Check, Update" >&2
    "$bin_dir/ordel-fleet" --image "$image" --fw-version "$version"
    exit
fi

# The run by itself keeps the window's remembered size apart from the
# operator's.
export XDG_CONFIG_HOME=$work/config
start_xvfb "$work"
mkdir -p "$(dirname "$screenshot")"
"$bin_dir/fleet-demo" --image "$image" --fw-version "$version" --type IPC-D240 \
    --screenshot "$screenshot"
echo "demo: screenshot saved to $screenshot"
