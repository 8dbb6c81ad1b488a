# The sanitizer settings of every sanitized run: the tests of the sanitized
# build (run-test.sh) and the fuzzers (scripts/fuzz). Meant to be sourced.
# Any finding ends the program with an error status; lsan.supp lets through
# known leaks in third-party code only. Options already in the environment
# come after these, so they win.

sanitizer_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# fast_unwind_on_malloc=0: Qt is built without frame pointers, so the fast
# unwinder stops inside Qt, and the leak suppressions, which name the Qt frames
# further up the allocation's stack, would not match.
export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:detect_stack_use_after_return=1:fast_unwind_on_malloc=0${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export LSAN_OPTIONS="suppressions=$sanitizer_dir/lsan.supp:print_suppressions=0${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
# The build already makes every UBSan check fatal (-fno-sanitize-recover).
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
