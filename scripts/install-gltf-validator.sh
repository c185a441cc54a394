#!/usr/bin/env bash
# Installs the Khronos glTF validator (the npm package gltf-validator, run
# with Node.js) into a folder of the build tree, for the glTF export tests
# and scripts/gltf-validate.js:
#
#   bash scripts/install-gltf-validator.sh BUILD_DIR/gltf-validator
#
# Does nothing when that version is installed there already; safe to run from
# several test processes at once. Needs node and npm (Debian: nodejs).
set -euo pipefail

VERSION=2.0.0-dev.3.10
dir=${1:?usage: install-gltf-validator.sh DIR}

installed() {
  local pkg="$dir/node_modules/gltf-validator/package.json"
  [ -f "$pkg" ] && grep -q "\"version\": *\"$VERSION\"" "$pkg"
}

mkdir -p "$dir"
exec 9>"$dir/.install-lock"
flock 9
if installed; then
  exit 0
fi
for tool in node npm; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "install-gltf-validator: $tool is missing (Debian package nodejs)" >&2
    exit 1
  fi
done
echo "== installing gltf-validator $VERSION into $dir"
npm install --prefix "$dir" --no-audit --no-fund --loglevel=error "gltf-validator@$VERSION" >&2
installed
