#!/usr/bin/env bash
# Runs the element benchmarks with repetitions and prints the build/baseline ratios at the end.
# Usage: benchmarks/run.sh [build-dir] [extra benchmark flags...]   (default build dir: build/native)
set -eu
case "${1:-}" in
  -h|--help) sed -n '2,3p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
esac
build=${1:-build/native}
shift || true
exec "$build/benchmarks/elements_benchmark" --benchmark_repetitions=5 \
  --benchmark_report_aggregates_only=true "$@"
