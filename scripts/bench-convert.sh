#!/usr/bin/env bash
# Speed of batch conversion: the sample folder converted to .glb (textures
# from the dictionaries beside the models) by `orvik convert` with 1 and 2
# workers, against the sum of one `orvik import --gltf` run per model.
#
#   bash scripts/bench-convert.sh [RUNS]      # RUNS of each measurement, default 3
#
# Prints, per measurement, the median wall time of the runs, models per
# second, and where the workers' time went (import, export with texture
# decoding and PNG writing, writing the files) from the batch's report.
# Environment: ORVIK_BENCH_BUILD_DIR (default build-bench), ORVIK_SAMPLES
# (default ../shared/samples), ORVIK_JOBS (build jobs, default 2).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/common.sh

runs="${1:-3}"
dir="${ORVIK_BENCH_BUILD_DIR:-build-bench}"
samples="${ORVIK_SAMPLES:-$(pwd)/../shared/samples}"
orvik_install_packages
orvik_configure_args
orvik_log "configuring $dir (Release)"
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DORVIK_BUILD_BENCHMARKS=ON -DORVIK_BUILD_ALL_VARIANTS=OFF \
  -DORVIK_BUILD_TESTS=OFF "${ORVIK_CONFIGURE_ARGS[@]}" >/dev/null
orvik_log "building orvik"
cmake --build "$dir" -j "$ORVIK_JOBS" --target orvik >/dev/null
orvik=$(pwd)/$dir/bin/orvik
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
orvik_log "machine: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"

now() { date +%s.%N; }
calc() { awk "BEGIN {print $1}"; }
median() { sort -g | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }
models=$(find "$samples" -maxdepth 1 -iname '*.dff' | wc -l)

# One batch of the whole folder; prints its wall seconds.
batch() {
  rm -rf "$work/out"
  local t0 t1
  t0=$(now)
  "$orvik" convert "$samples" --out "$work/out" -j "$1" --no-progress --report "$work/report-$1.json" \
    >/dev/null 2>&1 || true
  t1=$(now)
  calc "$t1 - $t0"
}

# One import per model, one after the other; prints the summed wall seconds.
singles() {
  rm -rf "$work/single" && mkdir -p "$work/single"
  local t0 t1 f
  t0=$(now)
  for f in "$samples"/*.dff; do
    "$orvik" import "$f" --no-progress --gltf "$work/single/$(basename "$f" .dff).glb" >/dev/null 2>&1 || true
  done
  t1=$(now)
  calc "$t1 - $t0"
}

split() {
  grep -A4 '"workerSeconds"' "$1" | tr -d ' ,"' | awk -F: '/import|export|write/ {printf "%s %.2f s  ", $1, $2}'
}

declare -A wall
for what in j1 j2 single; do
  times=()
  for ((i = 0; i < runs; i++)); do
    case $what in
      j1) times+=("$(batch 1)") ;;
      j2) times+=("$(batch 2)") ;;
      single) times+=("$(singles)") ;;
    esac
  done
  wall[$what]=$(printf '%s\n' "${times[@]}" | median)
  printf '%-28s %8.2f s  %6.2f models/s   (runs: %s)\n' \
    "$([ "$what" = single ] && echo "one import per model" || echo "convert -j ${what#j}")" \
    "${wall[$what]}" "$(calc "$models / ${wall[$what]}")" "${times[*]}"
done
printf 'models: %d; speed-up of 2 workers over 1: %.2f; batch (-j 1) over the single imports: %+.1f %%\n' \
  "$models" "$(calc "${wall[j1]} / ${wall[j2]}")" "$(calc "(${wall[j1]} / ${wall[single]} - 1) * 100")"
printf 'worker time, -j 1: %s\n' "$(split "$work/report-1.json")"
printf 'worker time, -j 2: %s\n' "$(split "$work/report-2.json")"
