#!/usr/bin/env bash
# Builds the IFC converter's fuzz target (clang, AddressSanitizer and UndefinedBehaviorSanitizer)
# in build/fuzz and runs it for a while from its seeds: small files cut out of the Duplex sample
# (when ../shared/ifc-samples is there), a generated building, the files in fuzz/converter_seeds/
# and copies of all these with one required reference broken (tests/ifc/reference_sweep.py). Exit status 0 when it found nothing; otherwise libFuzzer's, with the input
# that failed under build/fuzz/converter_findings/.
#   fuzz/run_converter_fuzz.sh [SECONDS] [LIBFUZZER OPTIONS...]     (default 60 seconds)
# KB_FUZZ_BUILD names another build folder; KB_IFC_SAMPLES_DIR another samples folder.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
build=${KB_FUZZ_BUILD:-build/fuzz}
samples=${KB_IFC_SAMPLES_DIR:-../shared/ifc-samples}

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
if [ ! -f "$build/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -G Ninja -B "$build" -DKB_FUZZ=ON -DKB_BENCHMARKS=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" >/dev/null
fi
cmake --build "$build" -j2 --target converter_fuzz

seeds=$build/converter_seeds
corpus=$build/converter_corpus   # what the fuzzer adds, kept between runs
findings=$build/converter_findings
rm -rf "$seeds" "$findings"
mkdir -p "$seeds" "$corpus" "$findings"
cp fuzz/converter_seeds/*.ifc "$seeds/"
python3 tools/ifc2snapshot/make_sample_ifc.py "$seeds/generated.ifc" --storeys 1
for model in "$samples"/*.ifc; do
  [ -f "$model" ] && python3 fuzz/converter_seeds.py "$model" "$seeds" --count 24
done
# Broken required references: each kind the seeds hold, once empty and once of a wrong type.
python3 tests/ifc/reference_sweep.py --write-copies "$seeds/references" --sources "$seeds"/*.ifc

# The converter sends what the library prints to a file while the library runs, and the
# sanitizers' reports with it: they go to files of their own, shown when the run fails.
# The mesh library's triangulation leaks a few blocks now and then: no leak checks.
export ASAN_OPTIONS=${ASAN_OPTIONS:-log_path=$PWD/$findings/asan:detect_leaks=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-log_path=$PWD/$findings/ubsan:print_stacktrace=1}
# The whole Duplex (2.3 MB) takes seconds a run under the sanitizers: seeds stay below 200 kB.
status=0
"$build/fuzz/converter_fuzz" -max_total_time="$seconds" -timeout=60 -rss_limit_mb=4096 \
  -max_len=200000 -detect_leaks=0 -dict=fuzz/converter.dict -print_final_stats=1 \
  -artifact_prefix="$findings/" "$@" "$corpus" "$seeds" || status=$?  # seeds/references too: read recursively
if [ "$status" != 0 ]; then
  cat "$findings"/asan.* "$findings"/ubsan.* 2>/dev/null | head -n 60 >&2
  ls "$findings" >&2
fi
exit "$status"
