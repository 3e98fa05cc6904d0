#!/usr/bin/env bash
# Power cuts: the real controller killed at random moments while it rewrites its files,
# then every file under /opt/set checked to be wholly old or new and read by the next
# start (the bench test PowerCutBench). Prints the seed, the cuts (in the start-up, inside
# a rewrite), the cuts per action and the new versions per file.
# Usage: power-cuts.sh [CUTS (1000)] [BENCHES side by side (8)] [BUILD (build)]
set -euo pipefail
cuts=${1:-1000}
benches=${2:-8}
build=${3:-build}
test="$build/tests/bench/power_cut_bench_test"
[ -x "$test" ] || { echo "no $test: build first (make build)" >&2; exit 2; }
CORVID_POWER_CUTS=$cuts CORVID_POWER_CUT_BENCHES=$benches \
  "$test" --gtest_filter='PowerCutBench.*' --gtest_brief=1
