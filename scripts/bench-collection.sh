#!/usr/bin/env bash
# Speed of batch conversion on a collection of large textures: every sample
# model beside a dictionary of its own whose textures, under the model's own
# texture names, are SIZE x SIZE (default 1024, as in many community mods),
# written by `orvik_bench --large-dictionary`. The collection is converted to
# .glb with 2 workers, RUNS times (default 3), and each run's worker time is
# printed as `convert` reports it (import, export, textures with their
# decoding and PNG writing, writing), with the textures' time against the
# import and the export together.
#
#   bash scripts/bench-collection.sh [SIZE] [RUNS]
#
# Builds `orvik` and `orvik_bench` in the benchmark build (Release).
# Environment: ORVIK_BENCH_BUILD_DIR (default build-bench), ORVIK_SAMPLES
# (default ../shared/samples), ORVIK_JOBS (build jobs, default 2),
# ORVIK_COLLECTION (a folder that keeps the collection; default a temporary one).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/common.sh

size="${1:-1024}"
runs="${2:-3}"
dir="${ORVIK_BENCH_BUILD_DIR:-build-bench}"
samples="${ORVIK_SAMPLES:-$(pwd)/../shared/samples}"
orvik_install_packages
orvik_configure_args
if [ ! -f "$dir/CMakeCache.txt" ]; then
  orvik_log "configuring $dir (Release, benchmarks)"
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DORVIK_BUILD_BENCHMARKS=ON -DORVIK_BUILD_ALL_VARIANTS=OFF \
    "${ORVIK_CONFIGURE_ARGS[@]}" >/dev/null
fi
orvik_log "building orvik and orvik_bench"
cmake --build "$dir" -j "$ORVIK_JOBS" --target orvik orvik_bench >/dev/null
orvik=$(pwd)/$dir/bin/orvik
bench=$(pwd)/$dir/bin/orvik_bench
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
collection="${ORVIK_COLLECTION:-$work/collection}"
mkdir -p "$collection"

# Each model's texture names, from its scene dump.
orvik_log "writing the collection: $size x $size textures"
models=0 textures=0
for model in "$samples"/*.dff; do
  name=$(basename "$model" .dff)
  mapfile -t names < <("$orvik" import "$model" --no-progress --json - 2>/dev/null |
    python3 -c 'import json, sys
for t in json.load(sys.stdin).get("textures", []):
    if t.get("name"): print(t["name"])' | sort -u)
  [ "${#names[@]}" -gt 0 ] || continue
  ln -sfn "$model" "$collection/$name.dff"
  "$bench" --large-dictionary "$collection/$name.txd" "$size" "${names[@]}"
  models=$((models + 1)) textures=$((textures + ${#names[@]}))
done
orvik_log "machine: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg); $models models, $textures textures, $(du -shL "$collection" | cut -f1)"

for ((i = 1; i <= runs; i++)); do
  rm -rf "$work/out"
  "$orvik" convert "$collection" --out "$work/out" -j 2 --no-progress --report "$work/report.json" >"$work/table.txt" 2>/dev/null || true
  python3 - "$work/report.json" "$work/out" <<'PY'
import json, os, sys
r = json.load(open(sys.argv[1]))
w, t = r["workerSeconds"], r["textureImages"]
size = sum(os.path.getsize(os.path.join(d, f)) for d, _, fs in os.walk(sys.argv[2]) for f in fs)
print("import %.2f s, export %.2f s, textures %.2f s (decoding %.2f, PNG writing %.2f; %d made, %d from the cache), "
      "writing %.2f s; textures / (import + export) %.2f; outputs %d bytes"
      % (w["import"], w["export"], w["textures"], w["texturesDecode"], w["texturesEncode"], t["made"], t["fromCache"],
         w["write"], w["textures"] / max(1e-9, w["import"] + w["export"]), size))
PY
done
