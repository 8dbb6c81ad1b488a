#!/usr/bin/env bash
# The Ansible collection ordel.cameras end to end: ansible-playbook in the
# controller's namespace of tools/lab/sites.sh manages two sites of three
# simulated cameras each over SSH to the sites' gateways, where the modules
# run the build's ordelctl. Between the playbook's runs the cameras' own logs
# show what reached them.
#
#   tools/lab/sites.sh run -- run.sh ORDELCTL CAMSIM
#
# Exits 77 (skipped) when ansible-playbook or sshd is missing.
set -euo pipefail

(($# == 2)) || { echo "usage: sites.sh run -- run.sh ORDELCTL CAMSIM" >&2; exit 2; }
ordelctl=$1
camsim=$2
for tool in ansible-playbook ansible-galaxy ssh-keygen /usr/sbin/sshd; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is missing"; exit 77; }
done
: "${SITES_CONTROLLER:?run me through tools/lab/sites.sh run}"
# The controller's links lead only to the gateways' management addresses.
[[ $(ip netns identify $$) == "$SITES_CONTROLLER" ]] ||
    { echo "run.sh: not in the controller's namespace" >&2; exit 2; }

here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../../tools/lab/children.sh"
collection=$(cd "$here/../../../ansible/ordel/cameras" && pwd)
readonly image_version=2.9.0
readonly old_version=2.8.1
readonly restart_topic="Ordel Tool_in/restart"
readonly ready_wait_s=20
work=$(mktemp -d "${TMPDIR:-/tmp}/ordel-ansible.XXXXXX")
# Every sshd and camsim, all started here and ended here by their pids.
pids=()
declare -A camera_pids

cleanup() {
    local socket
    # The master connections ansible keeps for the next task.
    for socket in "$work"/cp/*; do
        [[ ! -S $socket ]] || ssh -o ControlPath="$socket" -O exit gateway >/dev/null 2>&1 || true
    done
    end_children
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# The test's own sshd on a site's gateway, listening on the management
# address only, with a host key and an authorized key made for this run.
start_sshd() {
    local site=$1 address=$2 dir=$work/sshd-$1 pid
    mkdir "$dir"
    ssh-keygen -q -t ed25519 -N '' -C "$site" -f "$dir/host_key"
    cat >"$dir/sshd_config" <<EOF
ListenAddress $address
HostKey $dir/host_key
AuthorizedKeysFile $work/client_key.pub
PidFile $dir/sshd.pid
PermitRootLogin prohibit-password
PubkeyAuthentication yes
PasswordAuthentication no
KbdInteractiveAuthentication no
UsePAM no
StrictModes no
PrintMotd no
PrintLastLog no
Subsystem sftp internal-sftp
EOF
    ip netns exec "$site-tool" /usr/sbin/sshd -D -e -f "$dir/sshd_config" 2>"$dir/sshd.log" &
    pid=$!
    pids+=("$pid")
    for _ in $(seq $((ready_wait_s * 10))); do
        [[ -n $(ip netns exec "$site-tool" ss -Hltn "src $address:22") ]] && break
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    [[ -n $(ip netns exec "$site-tool" ss -Hltn "src $address:22") ]] ||
        fail "sshd on $site-tool did not listen: $(cat "$dir/sshd.log")"
    [[ $(ip netns identify "$pid") == "$site-tool" ]] || fail "sshd $pid is not in $site-tool"
}

# start_camera SITE OCTET INDEX LOG_DIR [CAMSIM OPTION...]: camera INDEX of a
# site on the old firmware; OCTET keeps its MAC apart from the other site's.
start_camera() {
    local site=$1 octet=$2 index=$3 dir=$4
    shift 4
    local address=198.51.100.$((10 + index))
    ip netns exec "$site-cam$index" "$camsim" --bind "$address" --log "$dir/$site-cam$index.log" \
        --broker --update --restart-ms 3000 \
        --camera "ip=$address,mac=02:00:00:00:$octet:0$index,sn=ODL-$octet-$index,name=Camera $index,type=IPC-D240,os=4.19.2,fw=$old_version" \
        "$@" </dev/null >"$dir/$site-cam$index.out" 2>&1 &
    pids+=($!)
    camera_pids[$site-cam$index]=$!
}

wait_cameras_ready() {
    local dir=$1 name
    for name in "${!camera_pids[@]}"; do
        for _ in $(seq $((ready_wait_s * 10))); do
            grep -qx ready "$dir/$name.out" 2>/dev/null && break
            kill -0 "${camera_pids[$name]}" 2>/dev/null || break
            sleep 0.1
        done
        grep -qx ready "$dir/$name.out" || fail "camera $name did not start: $(cat "$dir/$name.out")"
    done
}

stop_cameras() {
    local name
    for name in "${!camera_pids[@]}"; do kill "${camera_pids[$name]}" 2>/dev/null || true; done
    for name in "${!camera_pids[@]}"; do wait "${camera_pids[$name]}" 2>/dev/null || true; done
    camera_pids=()
}

# start_site_cameras LOG_DIR [SITE:INDEX CAMSIM OPTION...]: both sites' three
# cameras, the one named with the options given.
start_site_cameras() {
    local dir=$1 special=${2:-} site octet index
    shift $(($# < 2 ? $# : 2))
    mkdir -p "$dir"
    for site in "$SITE_A:0a" "$SITE_B:0b"; do
        octet=${site#*:}
        site=${site%:*}
        for index in 1 2 3; do
            if [[ $site:$index == "$special" ]]; then
                start_camera "$site" "$octet" "$index" "$dir" "$@"
            else
                start_camera "$site" "$octet" "$index" "$dir"
            fi
        done
    done
    wait_cameras_ready "$dir"
}

# events LOG EVENT [KEY=VALUE...]: how many EVENT lines of a camera's log have
# those fields (true and false as JSON spells them).
events() {
    python3 - "$@" <<'EOF'
import json, sys
log, event, *fields = sys.argv[1:]
want = dict(field.split('=', 1) for field in fields)
def text(value):
    return value if isinstance(value, str) else json.dumps(value)
print(sum(1 for line in open(log)
          if (e := json.loads(line)).get('event') == event
          and all(text(e.get(key)) == value for key, value in want.items())))
EOF
}

# expect_events COUNT LOG EVENT [KEY=VALUE...]
expect_events() {
    local count=$1 log=$2 found
    shift 2
    found=$(events "$log" "$@")
    ((found == count)) || fail "$(basename "$log"): $found $* events, not $count:
$(grep -F "\"event\":\"$1\"" "$log" || true)"
}

# playbook NAME ANSIBLE-PLAYBOOK ARGS...: one run of the playbook; its output
# goes to the test's output and to $work/NAME.out. Its exit code is returned.
playbook() {
    local name=$1 start=$SECONDS status=0
    shift
    echo "== ansible-playbook $*"
    ansible-playbook -i "$work/inventory.ini" "$here/site.yml" "$@" 2>&1 | tee "$work/$name.out" ||
        status=$?
    echo "== $name: exit code $status in $((SECONDS - start)) s"
    return "$status"
}

# recap_changed HOST RUN: the changed count of HOST in RUN's PLAY RECAP.
recap_changed() {
    sed -n "s/^$1 *: .*changed=\([0-9]*\).*/\1/p" "$work/$2.out"
}

mkdir -p /run/sshd # the privilege separation directory sshd insists on
ssh-keygen -q -t ed25519 -N '' -C controller -f "$work/client_key"
start_sshd "$SITE_A" "$SITE_A_GATEWAY_IP"
start_sshd "$SITE_B" "$SITE_B_GATEWAY_IP"

image=$work/camera-fw-$image_version.bin
head -c $((1024 * 1024)) /dev/urandom >"$image"
image_md5=$(md5sum "$image" | cut -d' ' -f1)
# The gateways run ordelctl through a wrapper that keeps its journal in this
# run's folder, not in the machine's home: each site a journal of its own,
# as each gateway would have.
cat >"$work/ordelctl" <<WRAPPER
#!/bin/sh
XDG_STATE_HOME=$work/state/\$(ip netns identify \$\$) exec $ordelctl "\$@"
WRAPPER
chmod 755 "$work/ordelctl"
ordelctl=$work/ordelctl
sed -e "s|@SITE_A_GATEWAY_IP@|$SITE_A_GATEWAY_IP|" -e "s|@SITE_B_GATEWAY_IP@|$SITE_B_GATEWAY_IP|" \
    -e "s|@KEY@|$work/client_key|" -e "s|@ORDELCTL@|$ordelctl|" -e "s|@IMAGE@|$image|" \
    -e "s|@IMAGE_MD5@|$image_md5|" "$here/inventory.ini.in" >"$work/inventory.ini"

# A home of its own shows that every path Ansible writes to is one of those
# below, none the user's: it must stay empty.
mkdir "$work/home"
export HOME=$work/home
touch "$work/ansible.cfg"
export ANSIBLE_CONFIG=$work/ansible.cfg
export ANSIBLE_HOME=$work/ansible-home
export ANSIBLE_LOCAL_TEMP=$work/ansible-local
export ANSIBLE_REMOTE_TEMP=$work/ansible-remote
export ANSIBLE_COLLECTIONS_PATH=$work/collections
export ANSIBLE_COLLECTIONS_SCAN_SYS_PATH=False
export ANSIBLE_GALAXY_CACHE_DIR=$work/ansible-home/galaxy_cache
export ANSIBLE_SSH_CONTROL_PATH_DIR=$work/cp
# No user or system ssh_config, no key but the test's.
export ANSIBLE_SSH_ARGS="-F /dev/null -o IdentitiesOnly=yes -o ControlMaster=auto -o ControlPersist=60s"
export ANSIBLE_PIPELINING=True
export ANSIBLE_HOST_KEY_CHECKING=False
export ANSIBLE_RETRY_FILES_ENABLED=False
export ANSIBLE_NOCOLOR=True
export LC_ALL=C.UTF-8

ansible-galaxy collection build "$collection" --output-path "$work/dist" >/dev/null
ansible-galaxy collection install --offline -p "$work/collections" "$work/dist"/ordel-cameras-*.tar.gz \
    >/dev/null

logs=$work/fresh
start_site_cameras "$logs"
cameras=("$logs/$SITE_A"-cam{1,2,3}.log "$logs/$SITE_B"-cam{1,2,3}.log)

# Both gateways answer, each lists its own three cameras, and a check plans
# three updates a site without a camera hearing more than the probe.
playbook look --tags ping,facts,check || fail "the search or the check failed"
for log in "${cameras[@]}"; do
    (($(events "$log" probe) >= 2)) || fail "$(basename "$log"): the search and the check did not probe it"
    for event in broker-connection mqtt update-request tcp-accept; do
        expect_events 0 "$log" "$event"
    done
done

# Site by site, a canary first: each camera takes the image byte for byte and
# comes back on the new version.
playbook update --tags update || fail "the update failed"
for log in "${cameras[@]}"; do
    expect_events 1 "$log" update-request
    expect_events 1 "$log" image md5="$image_md5" ok=true
    expect_events 1 "$log" back fw="$image_version"
done

# The same play again changes nothing and sends no camera a request.
playbook again --tags update -e expect_update=false || fail "the second update failed"
for host in site_a site_b; do
    [[ $(recap_changed "$host" again) == 0 ]] || fail "the second update changed $host"
done
for log in "${cameras[@]}"; do expect_events 1 "$log" update-request; done

# Fresh cameras on the old version, one of site A's failing its update: the
# rollout stops at site A, naming the camera, and site B is not touched.
stop_cameras
logs=$work/faulty
start_site_cameras "$logs" "$SITE_A:2" --update-fault error-report
status=0
playbook faulty --tags update -e failing_site=site_a -e failing_camera=198.51.100.12 || status=$?
((status != 0)) || fail "the rollout with a failing camera succeeded"
grep -q "rollout stopped at site_a: .*198\.51\.100\.12" "$work/faulty.out" ||
    fail "the rollout did not stop at site A naming 198.51.100.12"
! grep -q '\[site_b\]' "$work/faulty.out" || fail "the rollout went on to site B"
expect_events 1 "$logs/$SITE_A-cam2.log" update-request
for index in 1 2 3; do
    for event in broker-connection update-request tcp-accept; do
        expect_events 0 "$logs/$SITE_B-cam$index.log" "$event"
    done
done

# Two of site B's cameras restarted, after a check that sends nothing: each
# of the two hears the restart once, and no other camera hears it.
playbook power --tags power -e power_site=site_b \
    -e '{"power_cameras": ["198.51.100.11", "198.51.100.13"]}' || fail "the restart failed"
expect_events 1 "$logs/$SITE_B-cam1.log" mqtt topic="$restart_topic"
expect_events 0 "$logs/$SITE_B-cam2.log" mqtt topic="$restart_topic"
expect_events 1 "$logs/$SITE_B-cam3.log" mqtt topic="$restart_topic"
for index in 1 2 3; do expect_events 0 "$logs/$SITE_A-cam$index.log" mqtt topic="$restart_topic"; done

[[ -z $(ls -A "$work/home") ]] || fail "ansible wrote to the home folder: $(ls -A "$work/home")"
echo "ansible lab: all checks passed"
