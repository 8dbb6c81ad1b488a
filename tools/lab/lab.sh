#!/usr/bin/env bash
# The project's virtual LAN: one network namespace for the tool, one per
# simulated camera, and one holding the bridges that join them. Nothing here
# touches the machine's own namespace except to create and delete the
# namespaces, so no probe or other packet of the project can reach a real
# network. Addresses come from 198.51.100.0/24 and 203.0.113.0/24,
# documentation ranges that are never routed.
#
#   lab.sh up [SHAPE...] NAME CAMERAS
#                                 create the LAN
#   lab.sh down NAME              end its processes and delete it
#   lab.sh run [--cameras N] [SHAPE...] [--name NAME] -- COMMAND...
#                                 create a LAN, run COMMAND inside the tool's
#                                 namespace, delete the LAN however COMMAND ends
#
# The first segment holds cameras 1..N. The SHAPE options:
#   --second-cameras M   cameras N+1..N+M on a second network, 203.0.113.0/24:
#                        on a second segment with a bridge of its own, reached
#                        through the tool's second interface eth1 (a host on
#                        two networks)
#   --secondary-address  with --second-cameras: the second network shares the
#                        first segment instead, and the tool reaches it through
#                        a second address of eth0. The cameras then have only
#                        their own subnet's route, as on a switch without a
#                        gateway, so each answers only a probe from its own
#                        network.
#   --twin-interface     a second interface of the tool, eth2 at 198.51.100.3,
#                        on the first segment too (wired and wireless on one
#                        LAN)
#   --no-default-route   the tool's namespace has only the routes of its own
#                        subnets, as on a camera switch without a gateway;
#                        otherwise it has a default route over eth0
#
# Inside `run`, COMMAND sees LAB_NAME, LAB_CAMERAS (N), LAB_TOOL_IP,
# LAB_SUBNET, LAB_SECOND_CAMERAS (M, 0 without the second network),
# LAB_SECOND_TOOL_IP and LAB_SECOND_SUBNET (empty without it),
# LAB_SECONDARY_ADDRESS (1 or 0), LAB_TWIN_TOOL_IP (empty without the twin
# interface) and LAB_DEFAULT_ROUTE (1 or 0). Camera i (1-based) lives in
# namespace "$LAB_NAME-cam$i" at address 198.51.100.(10+i) on the first
# network, 203.0.113.(10+i) on the second.
set -euo pipefail

readonly subnet_prefix=198.51.100
readonly tool_ip=$subnet_prefix.2
readonly second_prefix=203.0.113
readonly second_tool_ip=$second_prefix.2
readonly twin_tool_ip=$subnet_prefix.3
readonly max_cameras=200

die() { echo "lab.sh: $*" >&2; exit 2; }

# camera_ip I FIRST_SEGMENT_CAMERAS
camera_ip() {
    if (($1 <= $2)); then echo "$subnet_prefix.$((10 + $1))"; else echo "$second_prefix.$((10 + $1))"; fi
}

lab_exists() { ip netns list | awk '{print $1}' | grep -qx "$1-lan"; }

is_count() { [[ $1 =~ ^[0-9]+$ ]]; }

# Joins namespace $2 to bridge $6 of the lab's bridge namespace through a veth
# pair: interface $3 on the namespace's side, $4 on the bridge's.
attach() {
    local name=$1 ns=$2 interface=$3 port=$4 address=$5 bridge=$6
    ip -n "$ns" link add "$interface" type veth peer name "$port" netns "$name-lan"
    ip -n "$ns" addr add "$address/24" dev "$interface"
    ip -n "$ns" link set "$interface" up
    ip -n "$name-lan" link set "$port" master "$bridge" up
}

new_namespace() {
    ip netns add "$1"
    ip -n "$1" link set lo up
}

new_bridge() {
    ip -n "$1-lan" link add "$2" type bridge
    ip -n "$1-lan" link set "$2" up
}

# up NAME CAMERAS; the shape comes from the options' variables below.
up() {
    local name=$1 cameras=$2
    is_count "$cameras" && ((cameras <= max_cameras)) || die "cameras must be 0..$max_cameras"
    [[ -z $second ]] || { is_count "$second" && ((cameras + second <= max_cameras)); } ||
        die "cameras on both networks must be 0..$max_cameras together"
    ((!secondary_address)) || [[ -n $second ]] || die "--secondary-address needs --second-cameras"
    lab_exists "$name" && die "a lab named $name exists already"
    new_namespace "$name-lan"
    new_bridge "$name" br0
    new_namespace "$name-tool"
    attach "$name" "$name-tool" eth0 tool "$tool_ip" br0
    local second_bridge=br1
    if ((secondary_address)); then
        second_bridge=br0
        ip -n "$name-tool" addr add "$second_tool_ip/24" dev eth0
    elif [[ -n $second ]]; then
        new_bridge "$name" br1
        attach "$name" "$name-tool" eth1 tool2 "$second_tool_ip" br1
    fi
    if ((twin_interface)); then
        attach "$name" "$name-tool" eth2 twin "$twin_tool_ip" br0
    fi
    # The namespace has no other way out than the virtual LAN, so whatever the
    # routes, the broadcast can only go there.
    if ((default_route)); then
        ip -n "$name-tool" route add default dev eth0
    fi
    local i bridge
    for ((i = 1; i <= cameras + ${second:-0}; i++)); do
        bridge=br0
        ((i <= cameras)) || bridge=$second_bridge
        new_namespace "$name-cam$i"
        attach "$name" "$name-cam$i" eth0 "c$i" "$(camera_ip "$i" "$cameras")" "$bridge"
        ((secondary_address)) || ip -n "$name-cam$i" route add default dev eth0
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

# Options that shape the segments, shared by up and run.
second=""
secondary_address=0
twin_interface=0
default_route=1

# shape_option ARGS...: takes one shape option off the front; the number of
# words it used, 0 if the first word is none.
shape_option() {
    case $1 in
    --second-cameras) second=$2; return 2 ;;
    --secondary-address) secondary_address=1; return 1 ;;
    --twin-interface) twin_interface=1; return 1 ;;
    --no-default-route) default_route=0; return 1 ;;
    *) return 0 ;;
    esac
}

run() {
    local cameras=3
    lab_name="tk$$"
    local used
    while (($#)); do
        used=0
        shape_option "$@" || used=$?
        if ((used)); then
            shift "$used"
            continue
        fi
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
    local second_tool="" second_subnet="" twin_tool=""
    if [[ -n $second ]]; then
        second_tool=$second_tool_ip
        second_subnet=$second_prefix.0/24
    fi
    ((!twin_interface)) || twin_tool=$twin_tool_ip
    local status=0
    ip netns exec "$lab_name-tool" env LAB_NAME="$lab_name" LAB_CAMERAS="$cameras" \
        LAB_TOOL_IP="$tool_ip" LAB_SUBNET="$subnet_prefix.0/24" \
        LAB_SECOND_CAMERAS="${second:-0}" LAB_SECOND_TOOL_IP="$second_tool" \
        LAB_SECOND_SUBNET="$second_subnet" LAB_SECONDARY_ADDRESS="$secondary_address" \
        LAB_TWIN_TOOL_IP="$twin_tool" LAB_DEFAULT_ROUTE="$default_route" "$@" || status=$?
    return "$status"
}

readonly usage="usage: lab.sh up [SHAPE...] NAME CAMERAS | down NAME |
       run [--cameras N] [SHAPE...] [--name NAME] -- COMMAND...
SHAPE: --second-cameras M, --secondary-address, --twin-interface, --no-default-route"

[[ $EUID -eq 0 ]] || die "must run as root (network namespaces)"
command -v ip >/dev/null || die "ip (iproute2) is missing"

case ${1:-} in
up)
    shift
    while (($# > 2)); do
        used=0
        shape_option "$@" || used=$?
        ((used)) || die "$usage"
        shift "$used"
    done
    (($# == 2)) || die "$usage"
    up "$1" "$2"
    ;;
down) (($# == 2)) || die "$usage"; down "$2" ;;
run) shift; run "$@" ;;
*) die "$usage" ;;
esac
