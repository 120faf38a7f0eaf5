# Installs the Debian packages k52kit builds and tests with, when missing.
# Sourced by scripts/demo and scripts/test.

k52_packages=(
  build-essential cmake ninja-build pkg-config git
  libpcsclite-dev pcscd vsmartcard-vpcd nettle-dev opensc pcsc-tools
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev clang-format
  libwxgtk3.2-dev xvfb xdotool imagemagick x11-utils openbox
)

k52_install_deps() {
  local missing=()
  local pkg
  for pkg in "${k52_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" ||
      missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "k52kit: installing ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
}

# Configures and builds one CMake preset (and only the given targets, if any).
k52_build() {
  local preset=$1
  shift
  cmake --preset "$preset" >/dev/null
  if [ $# -gt 0 ]; then
    cmake --build --preset "$preset" --target "$@"
  else
    cmake --build --preset "$preset"
  fi
}
