#!/usr/bin/env bash
# The demo's inside: runs in the tool's namespace of a virtual LAN made by
# lab.sh, starts three simulated cameras and the tool. Without a display it
# uses Xvfb, presses "Search Device" itself and saves a screenshot.
#
#   demo.sh BIN_DIR
#
# The headless run saves two pictures: the main window after the search
# (DEMO_SCREENSHOT) and an update window in the middle of an update
# (DEMO_UPDATE_SCREENSHOT).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/xvfb.sh"

bin_dir=$1
: "${LAB_NAME:?run me through lab.sh run}"
screenshot=${DEMO_SCREENSHOT:-$bin_dir/demo-main-window.png}
update_screenshot=${DEMO_UPDATE_SCREENSHOT:-$bin_dir/demo-update-window.png}
work=$(mktemp -d)
pids=()

cleanup() {
    local pid
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

camera() {
    local index=$1 fields=$2 address="198.51.100.$((10 + $1))"
    ip netns exec "$LAB_NAME-cam$index" "$bin_dir/camsim" --bind "$address" \
        --log "$work/camera$index.log" --broker --http --update --restart-ms 4000 \
        --camera "ip=$address,$fields" \
        >"$work/camera$index.out" 2>&1 &
    pids+=($!)
}

camera 1 "mac=00:1A:2B:3C:4D:11,sn=ODL2301A0011,name=Gate North,type=IPC-D240,os=4.19.2,fw=2.8.1"
camera 2 "mac=00:1A:2B:3C:4D:12,sn=ODL2301B0042,name=Loading Bay,type=IPC-B410,os=4.19.2,fw=2.7.9,delay=120"
camera 3 "mac=00:1A:2B:3C:4D:13,sn=ODL2210C0007,name=Lobby,type=IPC-T120,os=4.14.0,fw=2.6.3,delay=240"
for index in 1 2 3; do
    for _ in $(seq 100); do
        grep -q ready "$work/camera$index.out" 2>/dev/null && break
        sleep 0.1
    done
    grep -q ready "$work/camera$index.out" || { echo "camera $index did not start" >&2; exit 1; }
done

cd "$bin_dir" # the window icon is loaded from the working directory

if [[ -n ${DISPLAY:-}${WAYLAND_DISPLAY:-} ]]; then
    echo "demo: three cameras on the virtual LAN; press \"Search Device\""
    ./ordel-toolkits
    exit
fi

# No display: a virtual one, a press of the button, a picture of the result.
start_xvfb "$work"
./ordel-toolkits &
tool=$!
pids+=($tool)

# find_window TITLE: the id of the first window of that exact title.
find_window() {
    local id=""
    for _ in $(seq 100); do
        id=$(xdotool search --name "^$1\$" 2>/dev/null | head -1) && [[ -n $id ]] && break
        sleep 0.1
    done
    [[ -n $id ]] || { echo "demo: no window \"$1\" appeared" >&2; exit 1; }
    echo "$id"
}

shoot() {
    mkdir -p "$(dirname "$2")"
    import -window "$1" "$2"
    echo "demo: screenshot saved to $2"
}

window=$(find_window 'Ordel_Toolkits  V1.0.0.0')
sleep 0.5
# The button sits at 890,40 (121 x 61) in the window.
xdotool mousemove --window "$window" 950 70 click 1
sleep 3.5
shoot "$window" "$screenshot"

# An update of the first camera: its row's menu, the fourth entry, an image,
# Start and Yes; the picture is taken while the image is on its way.
head -c $((12 * 1024 * 1024)) /dev/urandom >"$work/camera-fw-2.9.0.bin"
xdotool mousemove --window "$window" 80 77 click 1 click 3
sleep 0.5
xdotool key Down Down Down Down Return
form=$(find_window Form)
sleep 0.5
xdotool mousemove --window "$form" 387 149 click 1 # Browser
sleep 1
xdotool type --delay 5 "$work/camera-fw-2.9.0.bin"
xdotool key Return
sleep 0.5
xdotool mousemove --window "$form" 217 204 click 1 # Start
sleep 0.5
xdotool key alt+y
sleep 9
shoot "$form" "$update_screenshot"
