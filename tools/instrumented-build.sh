#!/usr/bin/env bash
# Makes DIR/venv holding tessel and its test dependencies, with both extension
# modules compiled with extra FLAGS in the CMake tree DIR/cmake: the
# instrumented builds of tools/sanitize.sh and fuzz/run.sh.  The normal build
# and .venv are untouched.
#
#   tools/instrumented-build.sh DIR FLAGS [more pip install arguments]
#
# Set PYTHON to choose the interpreter.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$1 flags=$2
shift 2
[[ -x $dir/venv/bin/python ]] || "${PYTHON:-python3}" -m venv "$dir/venv"
venv=$dir/venv/bin
# The build requirements go into the venv, so the CMake tree is reused and a
# later run recompiles only what changed.
"$venv/python" -c 'import tomllib; print("\n".join(tomllib.load(open("pyproject.toml", "rb"))["build-system"]["requires"]))' \
  > "$dir/build-requires.txt"
"$venv/pip" install -q -r "$dir/build-requires.txt"
"$venv/pip" install -q --no-build-isolation ".[test]" \
  -Cbuild-dir="$dir/cmake" -Ccmake.build-type=RelWithDebInfo \
  -Ccmake.define.CMAKE_CXX_FLAGS="$flags" \
  -Ccmake.define.CMAKE_MODULE_LINKER_FLAGS="$flags" "$@"
