#!/usr/bin/env bash
# Speed of batch conversion: the sample folder converted to .glb (textures
# from the dictionaries beside the models) by `orvik convert` with 1 and 2
# workers, against the sum of one `orvik import --gltf` run per model.
#
#   bash scripts/bench-convert.sh [RUNS]      # RUNS of each measurement, default 3
#
# Prints, per measurement, the median wall time of the runs with models per
# second and the median CPU time (user + system of every process), then
# where the workers' time went (import, export with texture decoding and PNG
# writing, writing the files) from the batch's report. On a machine shared
# with other work the CPU times are the figures to compare.
# It uses `orvik` as setup.sh builds it (the default RelWithDebInfo build),
# configuring the build folder only when it has not been configured yet.
# Environment: ORVIK_BUILD_DIR (default build), ORVIK_SAMPLES (default
# ../shared/samples), ORVIK_JOBS (build jobs, default 2).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/common.sh

runs="${1:-3}"
dir="${ORVIK_BUILD_DIR:-build}"
samples="${ORVIK_SAMPLES:-$(pwd)/../shared/samples}"
orvik_install_packages
orvik_configure_args
if [ ! -f "$dir/CMakeCache.txt" ]; then
  orvik_log "configuring $dir"
  cmake -S . -B "$dir" "${ORVIK_CONFIGURE_ARGS[@]}" >/dev/null
fi
orvik_log "building orvik"
cmake --build "$dir" -j "$ORVIK_JOBS" --target orvik >/dev/null
orvik=$(pwd)/$dir/bin/orvik
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
orvik_log "machine: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"

calc() { awk "BEGIN {print $1}"; }
median() { sort -g | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }
models=$(find "$samples" -maxdepth 1 -iname '*.dff' | wc -l)
TIMEFORMAT='%R %U %S'

# Runs a command; prints its wall seconds and its CPU seconds (user + system,
# its child processes included).
timed() {
  local t
  t=$( { time "$@" >/dev/null 2>&1; } 2>&1 | tail -1)
  awk -v t="$t" 'BEGIN {split(t, a, " "); printf "%.3f %.3f\n", a[1], a[2] + a[3]}'
}

batch() {
  rm -rf "$work/out"
  "$orvik" convert "$samples" --out "$work/out" -j "$1" --no-progress --report "$work/report-$1.json" || true
}

singles() {
  rm -rf "$work/single" && mkdir -p "$work/single"
  local f
  for f in "$samples"/*.dff; do
    "$orvik" import "$f" --no-progress --gltf "$work/single/$(basename "$f" .dff).glb" || true
  done
}

split() {
  grep -A5 '"workerSeconds"' "$1" | tr -d ' ,"' | awk -F: '/import|export|textures|write/ {printf "%s %.2f s  ", $1, $2}'
}

declare -A wall cpu
for what in j1 j2 single; do
  walls=() cpus=()
  for ((i = 0; i < runs; i++)); do
    case $what in
      j1) r=$(timed batch 1) ;;
      j2) r=$(timed batch 2) ;;
      single) r=$(timed singles) ;;
    esac
    walls+=("${r% *}") cpus+=("${r#* }")
  done
  wall[$what]=$(printf '%s\n' "${walls[@]}" | median)
  cpu[$what]=$(printf '%s\n' "${cpus[@]}" | median)
  printf '%-22s wall %7.2f s (%6.2f models/s)  cpu %7.2f s   (wall runs: %s)\n' \
    "$([ "$what" = single ] && echo "one import per model" || echo "convert -j ${what#j}")" \
    "${wall[$what]}" "$(calc "$models / ${wall[$what]}")" "${cpu[$what]}" "${walls[*]}"
done
printf 'models: %d\n' "$models"
printf 'speed-up of 2 workers over 1 (wall): %.2f\n' "$(calc "${wall[j1]} / ${wall[j2]}")"
printf 'batch -j 1 over the single imports: wall %+.1f %%, cpu %+.1f %%\n' \
  "$(calc "(${wall[j1]} / ${wall[single]} - 1) * 100")" "$(calc "(${cpu[j1]} / ${cpu[single]} - 1) * 100")"
printf 'worker time, -j 1: %s\n' "$(split "$work/report-1.json")"
printf 'worker time, -j 2: %s\n' "$(split "$work/report-2.json")"
