#!/usr/bin/env bash
# The command-line demo's inside: runs in the tool's namespace of a virtual
# LAN of twelve cameras made by lab.sh, starts a simulated site on it, and
# runs COMMAND (as a rule ordelctl and its arguments) in a scratch folder that
# holds a sample image, with the build's programs first on PATH. COMMAND keeps
# the operator's terminal, and its exit code is the script's.
#
#   demo-ordelctl.sh BIN_DIR COMMAND...
#
# The site, camera i at 198.51.100.(10+i):
#   1-6   IPC-D240 on 2.8.1
#   7-8   IPC-D240 on 2.9.0 already
#   9-12  IPC-B410 on 2.7.9
# Each takes updates and restarts for 3 to 6 seconds after a successful one,
# coming back on the version in the image's file name: the sample image
# camera-fw-2.9.0.bin (4 MiB of random bytes) installs 2.9.0.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/children.sh"

(($# >= 2)) || { echo "usage: demo-ordelctl.sh BIN_DIR COMMAND..." >&2; exit 2; }
bin_dir=$(cd "$1" && pwd)
shift
: "${LAB_NAME:?run me through lab.sh run}"
readonly cameras=12
((${LAB_CAMERAS:-0} >= cameras)) || { echo "demo: needs a lab of $cameras cameras" >&2; exit 2; }
readonly image_name=camera-fw-2.9.0.bin
readonly ready_wait_s=30
work=$(mktemp -d)
site=$work/site
mkdir "$site"
# The demo's runs go into a journal of their own: the simulated cameras are
# not the operator's.
export XDG_STATE_HOME=$work/state
pids=()

cleanup() {
    end_children
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

# camera INDEX FIELDS: a session of its own keeps the operator's Ctrl-C, meant
# for ordelctl, from ending the cameras under it while it winds up.
camera() {
    local index=$1 fields=$2 address="198.51.100.$((10 + $1))"
    setsid ip netns exec "$LAB_NAME-cam$index" "$bin_dir/camsim" --bind "$address" \
        --log "$work/camera$index.log" --broker --http --update \
        --restart-ms $((3000 + 250 * index)) \
        --camera "ip=$address,mac=00:1A:2B:3C:4D:$(printf %02X $((0x10 + index))),$fields,delay=$((index * 53 % 240))" \
        </dev/null >"$work/camera$index.out" 2>&1 &
    pids+=($!)
}

d240="type=IPC-D240,os=4.19.2"
b410="type=IPC-B410,os=4.19.2"
camera 1 "sn=ODL2301A0011,name=Gate North,$d240,fw=2.8.1"
camera 2 "sn=ODL2301A0012,name=Gate South,$d240,fw=2.8.1"
camera 3 "sn=ODL2301A0013,name=Yard East,$d240,fw=2.8.1"
camera 4 "sn=ODL2301A0014,name=Yard West,$d240,fw=2.8.1"
camera 5 "sn=ODL2301A0015,name=Parking Level 1,$d240,fw=2.8.1"
camera 6 "sn=ODL2301A0016,name=Parking Level 2,$d240,fw=2.8.1"
camera 7 "sn=ODL2304A0107,name=Reception,$d240,fw=2.9.0"
camera 8 "sn=ODL2304A0108,name=Lobby,$d240,fw=2.9.0"
camera 9 "sn=ODL2302B0041,name=Loading Bay 1,$b410,fw=2.7.9"
camera 10 "sn=ODL2302B0042,name=Loading Bay 2,$b410,fw=2.7.9"
camera 11 "sn=ODL2302B0043,name=Warehouse Aisle 3,$b410,fw=2.7.9"
camera 12 "sn=ODL2302B0044,name=Warehouse Aisle 7,$b410,fw=2.7.9"

head -c $((4 * 1024 * 1024)) /dev/urandom >"$site/$image_name"

for ((index = 1; index <= cameras; index++)); do
    for _ in $(seq $((ready_wait_s * 10))); do
        grep -qx ready "$work/camera$index.out" 2>/dev/null && break
        kill -0 "${pids[index - 1]}" 2>/dev/null || break
        sleep 0.1
    done
    grep -qx ready "$work/camera$index.out" || {
        echo "demo: camera $index did not start:" >&2
        cat "$work/camera$index.out" >&2
        exit 1
    }
done

# On standard error: standard output may be --json for a file or a pipe.
echo "demo: cameras 198.51.100.11-16 IPC-D240 2.8.1, .17-18 IPC-D240 2.9.0," \
    ".19-22 IPC-B410 2.7.9; sample image $image_name in $site" >&2

cd "$site"
# The command's own signals end it; its exit code, whatever it is, is ours.
trap : INT TERM HUP
status=0
PATH=$bin_dir:$PATH "$@" || status=$?
exit "$status"
