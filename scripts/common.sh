# Helpers shared by setup.sh and test.sh (sourced, not run).

# The Debian packages the build, the tests, the benchmarks and the fuzzer need.
ORVIK_PACKAGES=(cmake g++ libgtest-dev libcli11-dev nlohmann-json3-dev libtinygltf-dev nodejs g++-multilib libbenchmark-dev clang libsquish-dev libpng-dev libdeflate-dev libisal-dev)

orvik_log() { printf '== %s\n' "$*"; }

# Installs the packages that are not installed yet; one apt-get update first,
# and nothing at all when every package is there.
orvik_install_packages() {
  local missing=() p
  for p in "${ORVIK_PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$p")
    fi
  done
  if [ ${#missing[@]} -eq 0 ]; then
    return 0
  fi
  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1; then
      sudo=(sudo)
    else
      echo "orvik: missing packages (${missing[*]}) and not root; install them with apt-get" >&2
      return 1
    fi
  fi
  orvik_log "installing ${missing[*]}"
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# Extra configure arguments: ORVIK_SAMPLES (a folder of real models) overrides
# the default ../shared/samples beside the source tree.
orvik_configure_args() {
  ORVIK_CONFIGURE_ARGS=()
  if [ -n "${ORVIK_SAMPLES:-}" ]; then
    ORVIK_CONFIGURE_ARGS+=("-DORVIK_SAMPLES_DIR=${ORVIK_SAMPLES}")
  fi
}

# The number of parallel build and test jobs (the machines have two cores).
ORVIK_JOBS="${ORVIK_JOBS:-2}"
# Build folders, relative to the source tree unless absolute.
ORVIK_BUILD_DIR="${ORVIK_BUILD_DIR:-build}"
ORVIK_SANITIZE_BUILD_DIR="${ORVIK_SANITIZE_BUILD_DIR:-${ORVIK_BUILD_DIR}-sanitize}"
