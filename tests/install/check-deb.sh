#!/usr/bin/env bash
# Installs the tool's Debian package into a clean Debian root made by
# debootstrap, as an operator would on a fresh machine, checks what it put in
# place, starts the tool there and removes the root again.
#
#   check-deb.sh PACKAGE.deb
set -euo pipefail

deb=$(realpath "$1")
root=$(mktemp -d /var/tmp/toolkit-root.XXXXXX)
log=$root.log

cleanup() {
    umount "$root/proc" 2>/dev/null || true
    rm -rf --one-file-system "$root" "$log"
}
trap cleanup EXIT

fail() {
    echo "check-deb: $*" >&2
    [[ -s $log ]] && tail -n 30 "$log" >&2
    exit 1
}

# The machine's own package mirror and release.
mirror=$(awk '/^URIs:/ { print $2; exit }' /etc/apt/sources.list.d/*.sources 2>/dev/null || true)
[[ -n $mirror ]] || mirror=$(awk '$1 == "deb" { print $2; exit }' /etc/apt/sources.list 2>/dev/null || true)
[[ -n $mirror ]] || fail "no package mirror found in the apt sources"
suite=$(. /etc/os-release && echo "$VERSION_CODENAME")

echo "check-deb: making a clean $suite root"
debootstrap --variant=minbase "$suite" "$root" "$mirror" >"$log" 2>&1 || fail "debootstrap failed"
cp "$deb" "$root/tmp/"
mount -t proc proc "$root/proc"

echo "check-deb: installing $(basename "$deb")"
chroot "$root" apt-get update -qq >>"$log" 2>&1 || fail "apt-get update failed"
chroot "$root" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -qq "/tmp/$(basename "$deb")" >>"$log" 2>&1 || fail "the package did not install"

for file in /usr/bin/ordel-toolkits /usr/bin/ordelctl /usr/bin/ordel-fleet \
    /usr/share/man/man1/ordelctl.1.gz /usr/share/man/man1/ordel-toolkits.1.gz \
    /usr/share/man/man1/ordel-fleet.1.gz /usr/share/doc/ordel-toolkits/copyright \
    /usr/share/ordel-toolkits/Toolkit.ico \
    /usr/share/applications/com.ordel.toolkits.desktop \
    /usr/share/metainfo/com.ordel.toolkits.metainfo.xml \
    /usr/share/applications/com.ordel.fleet.desktop \
    /usr/share/metainfo/com.ordel.fleet.metainfo.xml \
    /usr/share/icons/hicolor/48x48/apps/com.ordel.toolkits.png \
    /usr/share/icons/hicolor/256x256/apps/com.ordel.toolkits.png; do
    [[ -e $root$file ]] || fail "$file is missing"
done
# The Ansible collection, where Debian's ansible-core finds it, without its tests.
collection=/usr/share/ansible/collections/ansible_collections/ordel/cameras
for file in galaxy.yml meta/runtime.yml plugins/module_utils/ordelctl.py \
    plugins/doc_fragments/ordelctl.py plugins/modules/camera_facts.py \
    plugins/modules/camera_firmware.py plugins/modules/camera_power.py; do
    [[ -e $root$collection/$file ]] || fail "$collection/$file is missing"
done
[[ ! -e $root$collection/tests ]] || fail "$collection/tests is installed"

# Started as the desktop entry starts it, in a network namespace of its own
# with nothing but loopback: the tool opens no socket at start anyway, and this
# way nothing could reach a network. Still running after five seconds means it
# came up; a missing library or plugin ends it at once.
echo "check-deb: starting the installed tool"
status=0
unshare --net chroot "$root" sh -c \
    'cd /usr/share/ordel-toolkits && QT_QPA_PLATFORM=offscreen timeout 5 ordel-toolkits' \
    >"$log" 2>&1 || status=$?
((status == 124)) || fail "the tool ended with status $status instead of running"
! grep -qiE 'error while loading|could not (load|find)|cannot' "$log" || fail "the tool complained"
# The fleet window likewise: it searches only when asked.
echo "check-deb: starting the installed fleet window"
status=0
unshare --net chroot "$root" sh -c 'QT_QPA_PLATFORM=offscreen timeout 5 ordel-fleet --no-journal' \
    >"$log" 2>&1 || status=$?
((status == 124)) || fail "the fleet window ended with status $status instead of running"
! grep -qiE 'error while loading|could not (load|find)|cannot' "$log" ||
    fail "the fleet window complained"
# The command line, in the same empty namespace: its help needs nothing but
# its libraries, and must come without a display.
echo "check-deb: running the installed ordelctl --help"
unshare --net chroot "$root" env -u DISPLAY ordelctl --help >"$log" 2>&1 ||
    fail "ordelctl --help failed"
grep -q '^Usage: ordelctl COMMAND' "$log" || fail "ordelctl --help printed no usage"
unshare --net chroot "$root" ordelctl --version | grep -qx 'ordelctl 1.0.0.0' ||
    fail "ordelctl --version is not the project's version"
echo "check-deb: the package installs and the tool starts"
