#!/usr/bin/env bash
# Builds the fuzz target with clang (libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs it from the seed corpus.
#
#   bash scripts/fuzz.sh short            the suite's short run (ctest fuzz_short)
#   bash scripts/fuzz.sh campaign [SECS]  a long run, default 1800 seconds
#   bash scripts/fuzz.sh build            only configure and build
#
# Environment: ORVIK_FUZZ_BUILD_DIR (default ${ORVIK_BUILD_DIR}-fuzz, that is
# build-fuzz), ORVIK_SAMPLES
# (folder of real models for the seed corpus, default ../shared/samples),
# ORVIK_FUZZ_LOG (campaign log, default <build>/fuzz/campaign.log),
# ORVIK_FUZZ_MAX_LEN (largest input of a campaign, default 131072),
# ORVIK_JOBS (default 2).
#
# A campaign keeps the inputs it finds in <build>/fuzz/campaign and writes
# any crash, leak, timeout or out-of-memory input into <build>/fuzz/artifacts.
# It runs niced, one job and one worker, and exits non-zero when the fuzz
# target failed.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/common.sh

mode=${1:-short}
dir=${ORVIK_FUZZ_BUILD_DIR:-${ORVIK_BUILD_DIR}-fuzz}
case "$dir" in /*) ;; *) dir="$PWD/$dir" ;; esac

build() {
  # The libFuzzer runtime comes with clang's runtime libraries.
  ORVIK_PACKAGES+=(libclang-rt-14-dev)
  orvik_install_packages
  local args=(-DORVIK_BUILD_FUZZER=ON -DORVIK_BUILD_TESTS=OFF -DORVIK_BUILD_ALL_VARIANTS=OFF)
  if [ -n "${ORVIK_SAMPLES:-}" ]; then
    args+=("-DORVIK_FUZZ_SAMPLES_DIR=${ORVIK_SAMPLES}")
  fi
  orvik_log "fuzz: configuring $dir"
  CC=clang CXX=clang++ cmake -S . -B "$dir" -DCMAKE_CXX_COMPILER=clang++ "${args[@]}"
  orvik_log "fuzz: building"
  cmake --build "$dir" -j "$ORVIK_JOBS" --target orvik_fuzz orvik_fuzz_seed
}

case "$mode" in
build)
  build
  ;;
short)
  build
  orvik_log "fuzz: short run"
  (cd "$dir" && ctest --output-on-failure -R '^fuzz_short$')
  ;;
campaign)
  seconds=${2:-1800}
  build
  work="$dir/fuzz/campaign-work"
  log=${ORVIK_FUZZ_LOG:-$dir/fuzz/campaign.log}
  mkdir -p "$dir/fuzz/campaign" "$dir/fuzz/artifacts" "$work"
  # With -jobs the fuzzing process writes fuzz-0.log in its folder: let that be the log.
  rm -f "$work/fuzz-0.log"
  ln -s "$log" "$work/fuzz-0.log"
  orvik_log "fuzz: campaign of $seconds s, log $log"
  status=0
  (cd "$work" && nice -n 10 "$dir/bin/orvik_fuzz" -jobs=1 -workers=1 -max_total_time="$seconds" \
      -max_len="${ORVIK_FUZZ_MAX_LEN:-131072}" -timeout=30 -rss_limit_mb=2048 -malloc_limit_mb=512 \
      -print_final_stats=1 -artifact_prefix="$dir/fuzz/artifacts/" \
      "$dir/fuzz/campaign" "$dir/fuzz/seed" >"$work/driver.log" 2>&1) || status=$?
  cat "$work/driver.log" >>"$log"
  # Slow units (over 10 s, e.g. on a loaded machine) are noted, not failures.
  if [ "$status" -ne 0 ] || [ -n "$(ls -A "$dir/fuzz/artifacts" | grep -v '^slow-unit-')" ]; then
    echo "orvik: the fuzz target failed; inputs in $dir/fuzz/artifacts" >&2
    exit 1
  fi
  orvik_log "fuzz: campaign found nothing"
  ;;
*)
  echo "usage: bash scripts/fuzz.sh [short|campaign [SECONDS]|build]" >&2
  exit 2
  ;;
esac
