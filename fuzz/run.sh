#!/usr/bin/env bash
# Builds the fuzz targets and runs each of them for a while.
#
#   fuzz/run.sh [SECONDS [TARGET...]]
#
# SECONDS per target (default 60); TARGETs among chars, relevant_lines,
# words, number, netlist (libFuzzer, on the reader's text core) and spiceread (atheris,
# on the Python surface of tessel.core.spiceread); all by default.  Everything
# goes under build/fuzz/: bin/ the libFuzzer binaries, venv/ and cmake/ the
# instrumented extension for atheris, seeds/ the seed corpora, corpus/ what the
# runs found (kept between runs), artifacts/ crashing inputs, logs/.
#
# Seeds come from examples/*.sp and, where it exists, the folder of public
# netlists named by SPICE_CORPUS (default ../shared/corpus/files next to the
# repository); those files are read, never copied into the repository.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=$root/build/fuzz
seconds=${1:-60}
[[ $# -gt 0 ]] && shift
targets=("$@")
[[ ${#targets[@]} -gt 0 ]] || targets=(chars relevant_lines words number netlist spiceread)
clangxx=${CLANGXX:-clang++-14}
mkdir -p "$out/bin" "$out/corpus" "$out/artifacts" "$out/logs"

corpus=${SPICE_CORPUS:-$root/../shared/corpus/files}
sources=(examples/*.sp)
if [[ -d $corpus ]]; then
  sources+=("$corpus")
else
  echo "fuzz: no netlist corpus at $corpus; seeds from examples/ only"
fi
rm -rf "$out/seeds"
python3 fuzz/seeds.py "$out/seeds" "${sources[@]}"

# The seed kind each target starts from.
declare -A seed_kind=(
  [chars]=line [relevant_lines]=text [words]=line [number]=word [netlist]=text [spiceread]=netlist
)

build_native() {  # fuzz/NAME_fuzz.cpp with the text core
  local name=$1
  local -a files=("fuzz/${name}_fuzz.cpp" native/text/*.cpp)
  "$clangxx" -std=c++20 -g -O1 -Wall -Wextra -Werror -Inative \
    -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
    -o "$out/bin/${name}_fuzz" "${files[@]}"
}

build_python() {
  # atheris preloads its own ASan+libFuzzer runtime, which lacks UBSan's C++
  # parts: the vptr and function checks stay with tools/sanitize.sh.
  # The build's stub generator imports the modules: with clang's ASan runtime.
  local asan
  asan=$("$clangxx" -print-file-name=libclang_rt.asan-x86_64.so)
  tools/instrumented-build.sh "$out" \
    "-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize=vptr,function -fno-sanitize-recover=all -fno-omit-frame-pointer" \
    -Ccmake.define.CMAKE_CXX_COMPILER="$clangxx" \
    "-Ccmake.define.TESSEL_STUBGEN_LAUNCHER=env;LD_PRELOAD=$asan;ASAN_OPTIONS=detect_leaks=0"
  "$out/venv/bin/pip" install -q atheris
}

failed=()
summary=()
for name in "${targets[@]}"; do
  [[ -n ${seed_kind[$name]:-} ]] || { echo "fuzz: unknown target $name" >&2; exit 2; }
  log=$out/logs/$name.log
  start=$SECONDS
  if [[ $name == spiceread ]]; then
    build_python
    runtime=$("$out/venv/bin/python" -c 'import atheris; print(atheris.path())')/asan_with_fuzzer.so
    command=(env LD_PRELOAD="$runtime" PYTHONMALLOC=malloc
             "$out/venv/bin/python" "$root/fuzz/spiceread_fuzz.py" -max_len=2048)
  else
    build_native "$name"
    command=("$out/bin/${name}_fuzz" -max_len=4096)
  fi
  [[ ${seed_kind[$name]} == word ]] || command+=(-dict="$root/fuzz/spice.dict")
  mkdir -p "$out/corpus/$name"
  status=0
  # From the build folder, so that Python imports the instrumented package.
  # The outer timeout only guards against a run that never starts fuzzing.
  (cd "$out" &&
    ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    timeout $((seconds * 2 + 300)) "${command[@]}" \
      -max_total_time="$seconds" -timeout=30 -print_final_stats=1 \
      -artifact_prefix="$out/artifacts/$name-" \
      "$out/corpus/$name" "$out/seeds/${seed_kind[$name]}") > "$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  line=$(printf '%-15s %10s executions in %4d s' "$name" "${runs:-?}" $((SECONDS - start)))
  if [[ $status -ne 0 ]]; then
    failed+=("$name")
    line+="  FAILED (exit $status, log $log)"
    tail -n 40 "$log" >&2
  fi
  summary+=("$line")
  echo "fuzz: $line"
done

echo "fuzz: summary (build included in the times)"
printf '  %s\n' "${summary[@]}"
if [[ ${#failed[@]} -gt 0 ]]; then
  echo "fuzz: failed: ${failed[*]}; crashing inputs are in $out/artifacts/" >&2
  exit 1
fi
