#!/usr/bin/env bash
# Runs each coverage-guided fuzzer for a while, starting from the committed seeds and
# with the harness's dictionary (tests/fuzz/dict), and prints its executions, speed
# and coverage.
#   tools/fuzz.sh [seconds per harness, default 60] [harness...]
#   FUZZ_RUNS=10000000 tools/fuzz.sh 0 ...   runs each harness for that many
#                                            executions instead (no time bound)
# Needs clang and its libFuzzer runtime (installed here, not by pmx.sh: the normal
# build and tests do without them). New corpus entries stay in build-fuzz/corpus;
# copy the interesting ones to tests/fuzz/corpus to replay them in every build.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
seconds=${1:-60}
shift || true
harnesses=("$@")
[ ${#harnesses[@]} -eq 0 ] && harnesses=(command_file phone_book prompt_matcher telnet document lock_file script
    lan_destination)
runs=${FUZZ_RUNS:-}

need=()
for p in clang libclang-rt-14-dev; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
    sudo=""; [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${need[@]}"
fi

CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPMX_FUZZ=ON >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target "${harnesses[@]/#/fuzz_}"

for h in "${harnesses[@]}"; do
    corpus=build-fuzz/corpus/$h
    mkdir -p "$corpus"
    cp -n tests/fuzz/corpus/"$h"/* "$corpus"/ 2>/dev/null || true
    opts=(-print_final_stats=1 -max_len=4096)
    if [ -n "$runs" ]; then opts+=(-runs="$runs"); echo "== $h ($runs executions)"
    else opts+=(-max_total_time="$seconds"); echo "== $h (${seconds}s)"; fi
    [ -f tests/fuzz/dict/"$h".dict ] && opts+=(-dict=tests/fuzz/dict/"$h".dict)
    ASAN_OPTIONS=detect_leaks=1 ./build-fuzz/tests/fuzz/fuzz_"$h" "${opts[@]}" "$corpus" 2>&1 |
        grep -E '^(ParseDictionaryFile|#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units|stat::average_exec_per_sec|stat::peak_rss_mb|==[0-9]+==ERROR|.*invariant broken)' || true
done
