#!/usr/bin/env bash
# The collection as an Ansible user judges it: ansible-test sanity, units and
# the integration target, ansible-lint on the collection and on every
# playbook and example the documentation shows, and the changelog against its
# rendering. Only Debian's tools: ansible-test-offline keeps ansible-test from
# fetching its own. All of it runs in a network namespace without a route, so
# nothing any of them tries leaves the machine; without one it is skipped (77).
#
#   check-rules.sh PROJECT_ROOT OUTPUT_DIR
set -euo pipefail

root=$(cd "$1" && pwd)
mkdir -p "$2"
out=$(cd "$2" && pwd)
here=$root/ansible

if [[ -z ${CHECK_RULES_UNSHARED:-} ]]; then
    # As root a network namespace of its own; otherwise one inside a user
    # namespace, where the user is root.
    for unshare in "unshare -n" "unshare -r -n"; do
        if $unshare true 2>/dev/null; then
            CHECK_RULES_UNSHARED=1 exec $unshare -- "$0" "$@"
        fi
    done
    echo "check-rules: no network namespace can be made here: not run" >&2
    exit 77
fi
# Belt and braces: a route out means this is not the namespace it should be.
if [[ -n $(ip -o route show 2>/dev/null) ]]; then
    echo "check-rules: a route leaves this namespace: not run" >&2
    exit 1
fi

rm -rf "${out:?}/home" "${out:?}/project"
# ansible-test wants the collection at .../ansible_collections/NAMESPACE/NAME;
# ansible-lint finds a project's collections in its collections/ directory.
project=$out/project
collection=$project/collections/ansible_collections/ordel/cameras
mkdir -p "$(dirname "$collection")" "$out/home"
cp -r "$here/ordel/cameras" "$collection"
rm -rf "$collection/tests/output"
# Under a git work tree, as a build directory is, ansible-test takes its files
# from git, which ignores the copy: a repository of its own lists them all.
git init -q "$collection"
export HOME=$out/home ANSIBLE_HOME=$out/home/.ansible ANSIBLE_LOCAL_TEMP=$out/home/tmp
export PYTHONDONTWRITEBYTECODE=1 ANSIBLE_COLLECTIONS_PATH=$project/collections
python=$(sed -n '1s/^#! *//p' "$(command -v ansible-test)")
version=$("$python" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
ansible_test=("$here/ansible-test-offline" "$out/venv")

step() {
    echo "== check-rules: $1"
    shift
    "$@"
}

cd "$collection"
step "ansible-test sanity" "${ansible_test[@]}" sanity --python "$version" --color no 2>&1 |
    tee "$out/sanity.log"
# ansible-test only warns when it finds no file to test.
! grep -q 'All targets skipped' "$out/sanity.log" || { echo "check-rules: sanity tested nothing" >&2; exit 1; }
step "ansible-test units" "${ansible_test[@]}" units --python "$version" --color no
step "ansible-test integration" "${ansible_test[@]}" integration --local --python "$version" --color no
step "changelog" "$here/render-changelog" --check "$collection"
rm -rf "$collection/tests/output"
step "ansible-lint, the collection" ansible-lint --offline -p --nocolor

step "the documented playbooks" "$here/documented-playbooks" "$project" "$root/README.md" \
    "$root/docs/ansible.md" "$here/ordel/cameras/README.md" "$here"/ordel/cameras/plugins/modules/*.py
cd "$project"
step "ansible-lint, the documented playbooks" ansible-lint --offline -p --nocolor ./*.yml
echo "check-rules: the collection passes ansible-test and ansible-lint"
