#!/usr/bin/env bash
# Two camera sites managed from afar: each site is a virtual LAN of lab.sh
# whose tool namespace is the site's gateway, and a controller namespace of
# its own reaches both gateways over a management network, as a central
# operator reaches remote sites. The controller has no route to the cameras:
# whatever talks to them runs on a gateway. Both sites use the same camera
# subnet, 198.51.100.0/24, as real sites do. Nothing here touches the
# machine's own namespace except to create and delete the namespaces.
#
#   sites.sh up NAME CAMERAS      create both sites and the controller
#   sites.sh down NAME            end their processes and delete them
#   sites.sh run [--cameras N] [--name NAME] -- COMMAND...
#                                 create them (N cameras a site, 3 unless
#                                 given), run COMMAND in the controller's
#                                 namespace, delete them however COMMAND ends
#
# The management network, 192.0.2.0/24 (never routed), is one link a site:
#   controller 192.0.2.1/30 (interface site-a) -- 192.0.2.2/30 site A's gateway
#   controller 192.0.2.5/30 (interface site-b) -- 192.0.2.6/30 site B's gateway
# (interface mgmt on the gateways). The gateways do not forward, so the
# links carry only what the controller and a gateway say to each other.
#
# Inside `run`, COMMAND sees SITES_NAME, SITES_CAMERAS (N a site),
# SITES_CONTROLLER (the controller's namespace), SITE_A and SITE_B (each
# site's lab name: its gateway is namespace "$SITE_A-tool", its camera i
# "$SITE_A-cam$i" at 198.51.100.(10+i)), SITE_A_GATEWAY_IP and
# SITE_B_GATEWAY_IP (the gateways' management addresses), SITES_LAB (this
# folder's lab.sh) and SITES_SUBNET (the cameras' subnet on either site).
set -euo pipefail

lab=$(cd "$(dirname "$0")" && pwd)/lab.sh
readonly lab
readonly management_prefix=192.0.2
readonly camera_subnet=198.51.100.0/24

die() { echo "sites.sh: $*" >&2; exit 2; }

controller() { echo "$1-ctl"; }
site_name() { echo "$1$2"; }

# link NAME SITE CONTROLLER_IP GATEWAY_IP: the management link of one site.
link() {
    local name=$1 site=$2
    local gateway
    gateway=$(site_name "$name" "$site")-tool
    ip -n "$(controller "$name")" link add "site-$site" type veth peer name mgmt netns "$gateway"
    ip -n "$(controller "$name")" addr add "$3/30" dev "site-$site"
    ip -n "$(controller "$name")" link set "site-$site" up
    ip -n "$gateway" addr add "$4/30" dev mgmt
    ip -n "$gateway" link set mgmt up
}

exists() { ip netns list | awk '{print $1}' | grep -qxE "$1(-ctl|[ab]-(lan|tool|cam[0-9]+))"; }

up() {
    local name=$1 cameras=$2
    exists "$name" && die "sites named $name exist already"
    "$lab" up "$(site_name "$name" a)" "$cameras"
    "$lab" up "$(site_name "$name" b)" "$cameras"
    ip netns add "$(controller "$name")"
    ip -n "$(controller "$name")" link set lo up
    link "$name" a "$management_prefix.1" "$management_prefix.2"
    link "$name" b "$management_prefix.5" "$management_prefix.6"
}

down() {
    local name=$1 ns pid
    ns=$(controller "$name")
    if ip netns list | awk '{print $1}' | grep -qx "$ns"; then
        # Only what COMMAND left behind in the controller's namespace, such as
        # an SSH master connection: everything there was started by the run.
        for pid in $(ip netns pids "$ns" 2>/dev/null); do kill "$pid" 2>/dev/null || true; done
        sleep 0.2
        for pid in $(ip netns pids "$ns" 2>/dev/null); do kill -9 "$pid" 2>/dev/null || true; done
        ip netns del "$ns" 2>/dev/null || true
    fi
    "$lab" down "$(site_name "$name" a)"
    "$lab" down "$(site_name "$name" b)"
}

run() {
    local cameras=3
    sites_name="st$$"
    while (($#)); do
        case $1 in
        --cameras) cameras=$2; shift 2 ;;
        --name) sites_name=$2; shift 2 ;;
        --) shift; break ;;
        *) die "unknown option $1" ;;
        esac
    done
    (($#)) || die "run needs a command"
    exists "$sites_name" && die "sites named $sites_name exist already"
    trap 'down "$sites_name"' EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
    up "$sites_name" "$cameras"
    local status=0
    ip netns exec "$(controller "$sites_name")" env SITES_NAME="$sites_name" \
        SITES_CAMERAS="$cameras" SITES_CONTROLLER="$(controller "$sites_name")" \
        SITE_A="$(site_name "$sites_name" a)" SITE_B="$(site_name "$sites_name" b)" \
        SITE_A_GATEWAY_IP="$management_prefix.2" SITE_B_GATEWAY_IP="$management_prefix.6" \
        SITES_LAB="$lab" SITES_SUBNET="$camera_subnet" "$@" || status=$?
    return "$status"
}

readonly usage="usage: sites.sh up NAME CAMERAS | down NAME |
       run [--cameras N] [--name NAME] -- COMMAND..."

[[ $EUID -eq 0 ]] || die "must run as root (network namespaces)"
command -v ip >/dev/null || die "ip (iproute2) is missing"

case ${1:-} in
up) (($# == 3)) || die "$usage"; up "$2" "$3" ;;
down) (($# == 2)) || die "$usage"; down "$2" ;;
run) shift; run "$@" ;;
*) die "$usage" ;;
esac
