#!/usr/bin/env bash
# Runs one test of the sanitized build (TOOLKIT_SANITIZE); CTest prefixes each
# test command with it. A finding in the test program fails the test through
# the program's exit status. A finding in a camsim the test starts would only
# reach that simulator's stderr, which the test does not show, so camsim is
# started through camsim.sh, which writes its stderr to a file here. The test
# fails when one of those files holds a sanitizer report.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/options.sh"

SANITIZER_REPORT_DIR=$(mktemp -d)
export SANITIZER_REPORT_DIR
trap 'rm -rf "$SANITIZER_REPORT_DIR"' EXIT
if [[ -n ${CAMSIM:-} ]]; then
    export CAMSIM_PROGRAM=$CAMSIM CAMSIM=$here/camsim.sh
fi

"$@"
status=$?

shopt -s nullglob
for log in "$SANITIZER_REPORT_DIR"/camsim.*; do
    if grep -qE 'ERROR: [A-Za-z]+Sanitizer|runtime error:' "$log"; then
        echo "run-test.sh: sanitizer report of a camsim this test started:" >&2
        cat "$log" >&2
        ((status)) || status=1
    elif ((status)) && [[ -s $log ]]; then
        # LabCamera no longer sees this output; a failed test may need it.
        echo "run-test.sh: stderr of a camsim this test started:" >&2
        cat "$log" >&2
    fi
done
exit "$status"
