#!/bin/sh
# Runs one fuzz target for a bounded time and prints how many inputs it ran.
#
#   fuzz/run.sh BUILD_DIR TARGET SECONDS
#
# The target reads the committed seeds (fuzz/corpus/NAME) and keeps what it
# learns in fuzz/corpus-work/NAME, so later runs start from there. A finding
# stops the run: the input is saved under fuzz/artifacts/ and the log shown.
#
# Inputs are kept to 4 KiB. The search copies the path text and the row of
# every node it enters, so a lookup with a large max_dist on a deep trie
# costs nodes x depth; on 4 KiB that is well under the limits below, which
# catch time and memory out of proportion to the input: 10 s for one input,
# 256 MiB for one allocation, 1 GiB in all. Stack use-after-return
# detection is off: it makes every thrown exception, the core's ordinary
# way of failing, a hundred times slower.
set -eu
build=$1
target=$2
seconds=$3
name=${target#fuzz_}
work=fuzz/corpus-work/$name
log=$build/$target.log
mkdir -p "$work" fuzz/artifacts

# The symbolizer of the same LLVM, when installed, names the frames of a report.
if [ -x /usr/lib/llvm-16/bin/llvm-symbolizer ]; then
  export ASAN_SYMBOLIZER_PATH=/usr/lib/llvm-16/bin/llvm-symbolizer
fi
export ASAN_OPTIONS=detect_stack_use_after_return=0:detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1

if "$build/$target" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
     -malloc_limit_mb=256 -rss_limit_mb=1024 -use_value_profile=1 -print_final_stats=1 \
     -artifact_prefix="fuzz/artifacts/$target-" "$work" "fuzz/corpus/$name" >"$log" 2>&1; then
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  echo "$target: $runs executions in ${seconds} s, no finding"
else
  tail -n 80 "$log"
  echo "$target: FINDING; the input is under fuzz/artifacts/, the whole log in $log"
  exit 1
fi
