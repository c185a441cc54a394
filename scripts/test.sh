#!/usr/bin/env bash
# Builds and runs every test: the normal configuration (all four plug-in
# libraries, warnings as errors) and the AddressSanitizer + UndefinedBehavior-
# Sanitizer configuration, each with ctest. Exits non-zero on any failure.
#
#   bash scripts/test.sh
#
# Environment: ORVIK_BUILD_DIR (default build), ORVIK_SANITIZE_BUILD_DIR
# (default build-sanitize), ORVIK_SAMPLES (folder of real models, default
# ../shared/samples), ORVIK_JOBS (default 2).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/common.sh

orvik_install_packages
orvik_configure_args

export ASAN_OPTIONS="${ASAN_OPTIONS:-abort_on_error=0:detect_leaks=1:strict_string_checks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

failed=()

# run_suite NAME BUILD_DIR CONFIGURE_ARGS...
run_suite() {
  local name=$1 dir=$2
  shift 2
  orvik_log "$name: configuring $dir"
  cmake -S . -B "$dir" -DORVIK_BUILD_TESTS=ON "${ORVIK_CONFIGURE_ARGS[@]}" "$@"
  orvik_log "$name: building"
  if ! cmake --build "$dir" -j "$ORVIK_JOBS"; then
    failed+=("$name build")
    return 0
  fi
  orvik_log "$name: ctest"
  if ! (cd "$dir" && ctest --output-on-failure -j "$ORVIK_JOBS"); then
    failed+=("$name tests")
  fi
}

# One plain line where the kernel cannot run 32-bit programs: the 32-bit
# libraries were then checked from their files only, and their run-time
# checks skipped.
x86_note=""
find_x86_note() {
  local bin=$1/bin rc=0 line
  [ -x "$bin/run_x86" ] && [ -x "$bin/regcheck_x86" ] || return 0
  line=$("$bin/run_x86" --probe "$bin/regcheck_x86") || rc=$?
  if [ "$rc" -eq 77 ]; then
    x86_note=$line
  fi
}

start=$SECONDS
run_suite normal "$ORVIK_BUILD_DIR" -DORVIK_SANITIZE=OFF -DORVIK_BUILD_ALL_VARIANTS=ON
find_x86_note "$ORVIK_BUILD_DIR"
run_suite sanitize "$ORVIK_SANITIZE_BUILD_DIR" -DORVIK_SANITIZE=ON
# The short fuzz run, built with clang (scripts/fuzz.sh).
orvik_log "fuzz: short run"
bash scripts/fuzz.sh short || failed+=("fuzz")

orvik_log "finished in $((SECONDS - start)) s"
if [ -n "$x86_note" ]; then
  orvik_log "$x86_note"
fi
if [ ${#failed[@]} -ne 0 ]; then
  printf 'orvik: failed: %s\n' "${failed[@]}" >&2
  exit 1
fi
orvik_log "all suites passed"
