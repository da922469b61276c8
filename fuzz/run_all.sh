#!/bin/sh
# Runs each fuzz target (or those named in $FUZZ_TARGETS) for ten minutes (or
# $FUZZ_SECONDS), one process after another, in a build directory configured
# with -DKW_FUZZ=ON:
#   CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DKW_FUZZ=ON -DKW_TESTS=OFF
#   cmake --build build-fuzz -j2 && nohup fuzz/run_all.sh build-fuzz &
# Corpora grow in BUILD/corpus-<target>, findings land in BUILD/artifacts/<target>/,
# the final statistics at the end of BUILD/log-<target>.txt. Keep every finding
# under tests/data/fuzz/<target>/ so that the unit tests replay it.
set -u
build=$(cd "${1:-build-fuzz}" && pwd)
seeds=$(cd "$(dirname "$0")" && pwd)
seconds=${FUZZ_SECONDS:-600}
cd "$build"
for t in ${FUZZ_TARGETS:-client_list tbdef profile registry selection jet_selection jet journal}; do
  mkdir -p "corpus-$t" "artifacts/$t"
  cp -n "$seeds/seeds/$t"/* "corpus-$t"/ 2>/dev/null
  "./${t}_fuzz" "corpus-$t" -max_total_time="$seconds" -rss_limit_mb=2048 \
    -malloc_limit_mb=512 -print_final_stats=1 -artifact_prefix="artifacts/$t/" \
    > "log-$t.txt" 2>&1
  echo "$t: exit $?, $(grep -h 'stat::number_of_executed_units' "log-$t.txt")"
done
