#!/usr/bin/env bash
# Builds the collection as ansible-galaxy does, installs the tarball and reads
# each module's documentation back from the installed form: the documentation
# is YAML inside Python, and a slip in it shows only here. Any warning fails.
#
#   check-collection.sh COLLECTION_SOURCE OUTPUT_DIR
set -euo pipefail

source_dir=$1
out=$2
rm -rf "$out/dist" "$out/collections"
mkdir -p "$out"
# Nothing of it goes to the home directory.
export ANSIBLE_COLLECTIONS_PATH=$out/collections ANSIBLE_LOCAL_TEMP=$out/tmp ANSIBLE_HOME=$out/home
log=$out/check.log
# Ansible's own interpreter, which has its YAML library.
python=$(sed -n '1s/^#! *//p' "$(command -v ansible-doc)")

fail() {
    echo "check-collection: $*" >&2
    [[ -s $log ]] && cat "$log" >&2
    exit 1
}

quiet() {
    "$@" >"$log" 2>&1 || fail "$1 failed"
    ! grep -q 'WARNING' "$log" || fail "$1 warned"
}

quiet ansible-galaxy collection build "$source_dir" --output-path "$out/dist"
tarball=$(ls "$out"/dist/ordel-cameras-*.tar.gz)
quiet ansible-galaxy collection install --offline "$tarball" -p "$out/collections"
! tar -tzf "$tarball" | grep -E '(^|/)(tests|__pycache__)/' || fail "the tarball holds tests"

for module in camera_facts camera_firmware camera_power; do
    ansible-doc "ordel.cameras.$module" >"$out/$module.txt" 2>"$log" ||
        fail "ansible-doc ordel.cameras.$module failed"
    [[ ! -s $log ]] || fail "ansible-doc ordel.cameras.$module warned"
    grep -q "^> ORDEL.CAMERAS.${module^^}" "$out/$module.txt" || fail "no documentation for $module"
    # ansible-doc prints the examples as text; a play would have to read them.
    ansible-doc --json "ordel.cameras.$module" | "$python" -c '
import json, sys, yaml
doc = next(iter(json.load(sys.stdin).values()))
assert doc["examples"] and yaml.safe_load(doc["examples"]), "no examples"
' 2>"$log" || fail "the examples of $module are not YAML"
done
echo "check-collection: $tarball builds, installs and documents its modules"
