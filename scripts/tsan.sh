#!/usr/bin/env bash
# Builds the tests of the worker threads, the sound output and the engine with ThreadSanitizer and runs
# them. Usage: tsan.sh [DIR]  (default build-tsan)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-build-tsan}
# Test binaries whose subjects run on several threads.
targets=(base_thread_tests)
for t in audio_output_tests audio_channel_tests music_thread_tests engine_thread_tests; do
  grep -q "add_test($t\b\|kiv_add_test($t\b" -r "$root/tests" --include=CMakeLists.txt && targets+=("$t")
done
cmake -S "$root" -B "$root/$dir" -G Ninja -DKIV_TSAN=ON -DKIV_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/$dir" --target "${targets[@]}"
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
status=0
for t in "${targets[@]}"; do
  bin=$(find "$root/$dir/tests" -type f -name "$t" -perm -u+x | head -1)
  echo "== $t under ThreadSanitizer"
  "$bin" --gtest_brief=1 || status=1
done
exit $status
