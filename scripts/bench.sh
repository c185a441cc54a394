#!/usr/bin/env bash
# Builds the benchmark program in Release and runs it: import speed of every
# sample model and of the generated large models against the floor (one read
# of the file plus writing the scene's bytes), linearity, peak memory and the
# scene dump's speed, then the table of targets. Exits non-zero when a target
# is missed.
#
#   bash scripts/bench.sh [Google Benchmark flags, e.g. --benchmark_filter=import/mesh]
#
# Environment: ORVIK_BENCH_BUILD_DIR (default build-bench), ORVIK_SAMPLES
# (folder of real models, default ../shared/samples), ORVIK_JOBS (default 2),
# ORVIK_BENCH_MODELS (a folder that keeps the generated models).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/common.sh

dir="${ORVIK_BENCH_BUILD_DIR:-build-bench}"
orvik_install_packages
orvik_configure_args
orvik_log "configuring $dir (Release, benchmarks)"
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DORVIK_BUILD_BENCHMARKS=ON -DORVIK_BUILD_ALL_VARIANTS=OFF \
  "${ORVIK_CONFIGURE_ARGS[@]}" >/dev/null
orvik_log "building orvik_bench"
cmake --build "$dir" -j "$ORVIK_JOBS" --target orvik_bench
orvik_log "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(free -m | awk '/^Mem:/ {print $2}') MB memory, load $(cut -d' ' -f1-3 /proc/loadavg)"
"$dir/bin/orvik_bench" "$@"
