#!/usr/bin/env bash
# Builds both extension modules with AddressSanitizer and UndefinedBehavior-
# Sanitizer into a venv of their own and runs the test suite under them.
# The normal build and .venv are untouched.  Any sanitizer report fails the
# run, also one from a subprocess whose own exit status a test ignores.
#
#   tools/sanitize.sh [pytest arguments]
#
# build/sanitize/ holds the CMake tree (cmake/), the venv (venv/) and the
# reports of the last run (reports/).  Set PYTHON to choose the interpreter.
#
# The runtimes see the whole process, third-party libraries included; none of
# them reports anything today.  Should one start to, suppress that report
# alone (ASAN_OPTIONS/UBSAN_OPTIONS suppressions=, with a comment saying why),
# never one from native/.
set -euo pipefail
cd "$(dirname "$0")/.."
out=$PWD/build/sanitize
# The interpreter itself is not instrumented: the runtimes are preloaded, and
# PYTHONMALLOC=malloc puts every Python object on the instrumented heap.  The
# build's stub generator imports the modules, so it runs with them too.
libasan=$(g++ -print-file-name=libasan.so)
libubsan=$(g++ -print-file-name=libubsan.so)
tools/instrumented-build.sh "$out" "-fsanitize=address,undefined -fno-omit-frame-pointer" \
  "-Ccmake.define.TESSEL_STUBGEN_LAUNCHER=env;LD_PRELOAD=$libasan:$libubsan;ASAN_OPTIONS=detect_leaks=0"
venv=$out/venv/bin
rm -rf "$out/reports" && mkdir -p "$out/reports"
status=0
(
  cd "$out"   # so that tests import the installed package, not src/
  # detect_leaks=0: CPython frees little at exit, by design.
  export LD_PRELOAD="$libasan:$libubsan" PYTHONMALLOC=malloc
  export ASAN_OPTIONS="detect_leaks=0:halt_on_error=1:detect_stack_use_after_return=1:check_initialization_order=1:log_path=$out/reports/asan"
  export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:log_path=$out/reports/ubsan"
  "$venv/python" -m pytest -q -p no:cacheprovider --rootdir="$OLDPWD" "$OLDPWD/tests" "$@"
) || status=$?

reports=("$out"/reports/*)
if [[ -e ${reports[0]} ]]; then
  echo "sanitize: ${#reports[@]} sanitizer report(s):" >&2
  for f in "${reports[@]}"; do echo "== $f" >&2; cat "$f" >&2; done
  exit 1
fi
if [[ $status -ne 0 ]]; then
  echo "sanitize: the test suite failed under the sanitizers (exit $status)" >&2
  exit "$status"
fi
echo "sanitize: no sanitizer report"
