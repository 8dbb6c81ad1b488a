#!/usr/bin/env bash
# The project's virtual LAN: one network namespace for the tool, one per
# simulated camera, and one holding the bridge that joins them. Nothing here
# touches the machine's own namespace except to create and delete the
# namespaces, so no probe or other packet of the project can reach a real
# network. Addresses come from 198.51.100.0/24, a documentation range that is
# never routed.
#
#   lab.sh up NAME CAMERAS        create the LAN
#   lab.sh down NAME              end its processes and delete it
#   lab.sh run [--cameras N] [--name NAME] -- COMMAND...
#                                 create a LAN, run COMMAND inside the tool's
#                                 namespace, delete the LAN however COMMAND ends
#
# Inside `run`, COMMAND sees LAB_NAME, LAB_CAMERAS, LAB_TOOL_IP and
# LAB_SUBNET; camera i (1-based) lives in namespace "$LAB_NAME-cam$i" at
# address 198.51.100.(10+i).
set -euo pipefail

readonly subnet_prefix=198.51.100
readonly tool_ip=$subnet_prefix.2
readonly max_cameras=200

die() { echo "lab.sh: $*" >&2; exit 2; }

camera_ip() { echo "$subnet_prefix.$((10 + $1))"; }

lab_exists() { ip netns list | awk '{print $1}' | grep -qx "$1-lan"; }

# Joins namespace $2 to the bridge with a veth pair named eth0 on its side.
attach() {
    local name=$1 ns=$2 port=$3 address=$4
    ip netns add "$ns"
    ip -n "$ns" link set lo up
    ip -n "$ns" link add eth0 type veth peer name "$port" netns "$name-lan"
    ip -n "$ns" addr add "$address/24" dev eth0
    ip -n "$ns" link set eth0 up
    ip -n "$name-lan" link set "$port" master br0 up
}

up() {
    local name=$1 cameras=$2
    [[ $cameras =~ ^[0-9]+$ ]] && ((cameras <= max_cameras)) || die "cameras must be 0..$max_cameras"
    lab_exists "$name" && die "a lab named $name exists already"
    ip netns add "$name-lan"
    ip -n "$name-lan" link set lo up
    ip -n "$name-lan" link add br0 type bridge
    ip -n "$name-lan" link set br0 up
    attach "$name" "$name-tool" tool "$tool_ip"
    # A send to 255.255.255.255 needs a route; the namespace has no other way
    # out than the virtual LAN, so the broadcast can only go there.
    ip -n "$name-tool" route add default dev eth0
    local i
    for ((i = 1; i <= cameras; i++)); do
        attach "$name" "$name-cam$i" "c$i" "$(camera_ip "$i")"
        ip -n "$name-cam$i" route add default dev eth0
    done
}

down() {
    local name=$1 ns pid
    for ns in $(ip netns list | awk '{print $1}' | grep -E "^$name-(lan|tool|cam[0-9]+)$" || true); do
        # Only processes inside the lab's own namespaces: everything there was
        # started by the lab's user.
        for pid in $(ip netns pids "$ns" 2>/dev/null); do kill "$pid" 2>/dev/null || true; done
    done
    sleep 0.2
    for ns in $(ip netns list | awk '{print $1}' | grep -E "^$name-(lan|tool|cam[0-9]+)$" || true); do
        for pid in $(ip netns pids "$ns" 2>/dev/null); do kill -9 "$pid" 2>/dev/null || true; done
        ip netns del "$ns" 2>/dev/null || true
    done
}

run() {
    local cameras=3
    lab_name="tk$$"
    while (($#)); do
        case $1 in
        --cameras) cameras=$2; shift 2 ;;
        --name) lab_name=$2; shift 2 ;;
        --) shift; break ;;
        *) die "unknown option $1" ;;
        esac
    done
    (($#)) || die "run needs a command"
    trap 'down "$lab_name"' EXIT
    trap 'exit 130' INT TERM
    up "$lab_name" "$cameras"
    local status=0
    ip netns exec "$lab_name-tool" env LAB_NAME="$lab_name" LAB_CAMERAS="$cameras" \
        LAB_TOOL_IP="$tool_ip" LAB_SUBNET="$subnet_prefix.0/24" "$@" || status=$?
    return "$status"
}

[[ $EUID -eq 0 ]] || die "must run as root (network namespaces)"
command -v ip >/dev/null || die "ip (iproute2) is missing"

case ${1:-} in
up) (($# == 3)) || die "usage: lab.sh up NAME CAMERAS"; up "$2" "$3" ;;
down) (($# == 2)) || die "usage: lab.sh down NAME"; down "$2" ;;
run) shift; run "$@" ;;
*) die "usage: lab.sh up NAME CAMERAS | down NAME | run [--cameras N] [--name NAME] -- COMMAND..." ;;
esac
