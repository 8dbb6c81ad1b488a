#!/usr/bin/env bash
# camsim as the sanitized tests start it (see run-test.sh): the same process,
# with its stderr, where the sanitizers report, kept in the test's report
# directory.
exec "$CAMSIM_PROGRAM" "$@" 2>"$SANITIZER_REPORT_DIR/camsim.$$"
