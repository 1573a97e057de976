#!/usr/bin/env bash
# The benchmarks, run by `make bench` from inside the build folder with a
# display available. Extra arguments go to every benchmark binary.
set -euo pipefail
./bin/volren_bench_load --benchmark_counters_tabular=true "$@"
