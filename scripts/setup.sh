#!/usr/bin/env bash
# Sets up a fresh machine (Debian packages when missing), builds the plug-in
# libraries and the command-line host, and imports the bundled example.
#
#   bash scripts/setup.sh
#
# Environment: ORVIK_BUILD_DIR (default build), ORVIK_JOBS (default 2).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/common.sh

orvik_install_packages
orvik_configure_args

orvik_log "configuring $ORVIK_BUILD_DIR"
cmake -S . -B "$ORVIK_BUILD_DIR" "${ORVIK_CONFIGURE_ARGS[@]}"
orvik_log "building the plug-in libraries and orvik"
cmake --build "$ORVIK_BUILD_DIR" -j "$ORVIK_JOBS" --target orvik

orvik_log "orvik import examples/example.dff"
"$ORVIK_BUILD_DIR/bin/orvik" import examples/example.dff
