#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for FUZZ_SECONDS each (default 60), each from its
# seed corpus (tests/fuzz/corpus/NAME, copied to BUILD/fuzz-corpus/NAME, where what it finds
# is kept between runs) with its dictionary (tests/fuzz/dict/NAME.dict) when there is one.
# Prints a line per target: executions per second, executions, corpus size, crashes; a
# crash's input is kept in BUILD/fuzz-artifacts/NAME/. Exits 1 when a target crashed.
# Usage: run-fuzz.sh BUILD [NAME...]
set -uo pipefail
build=${1:?usage: run-fuzz.sh BUILD [NAME...]}
shift
src=$(cd "$(dirname "$0")/.." && pwd)
seconds=${FUZZ_SECONDS:-60}
names=("$@")
if [ ${#names[@]} -eq 0 ]; then
  for t in "$build"/tests/fuzz/*_fuzz; do
    [ -x "$t" ] && names+=("$(basename "$t" _fuzz)")
  done
fi
failed=0
printf '%-16s %10s %12s %8s %8s\n' target exec/s executions corpus crashes
for name in "${names[@]}"; do
  target="$build/tests/fuzz/${name}_fuzz"
  corpus="$build/fuzz-corpus/$name"
  artifacts="$build/fuzz-artifacts/$name"
  mkdir -p "$corpus" "$artifacts"
  [ -d "$src/tests/fuzz/corpus/$name" ] && cp -n "$src/tests/fuzz/corpus/$name"/* "$corpus"/ 2>/dev/null
  dict=()
  [ -f "$src/tests/fuzz/dict/$name.dict" ] && dict=(-dict="$src/tests/fuzz/dict/$name.dict")
  log="$build/fuzz-$name.log"
  "$target" "$corpus" "${dict[@]}" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$artifacts/" -rss_limit_mb=2048 -timeout=10 >"$log" 2>&1
  status=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  size=$(find "$corpus" -type f | wc -l)
  crashes=$(find "$artifacts" -type f | wc -l)
  printf '%-16s %10s %12s %8s %8s\n' "$name" "${rate:-?}" "${execs:-?}" "$size" "$crashes"
  if [ "$status" -ne 0 ]; then
    failed=1
    echo "  $name: exit $status, see $log" >&2
    grep -m3 -E "ERROR|SUMMARY|runtime error" "$log" | sed 's/^/  /' >&2
  fi
done
exit $failed
