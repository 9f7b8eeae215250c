#!/usr/bin/env bash
# Runs the element benchmarks with repetitions and prints the build/baseline ratios at the end.
# Usage: benchmarks/run.sh [build-dir] [extra benchmark flags...]   (default build dir: build/native)
set -eu
build=${1:-build/native}
shift || true
exec "$build/benchmarks/elements_benchmark" --benchmark_repetitions=5 \
  --benchmark_report_aggregates_only=true "$@"
