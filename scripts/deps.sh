# Installs the Debian packages the build needs, only when one is missing.
# Sourced by run.sh and test.sh.
KALVEX_PACKAGES=(
  cmake ninja-build g++ pkg-config ccache
  libgtest-dev libgmock-dev libbenchmark-dev
  zlib1g-dev libpng-dev libtiff-dev
  imagemagick netpbm
  clang libclang-rt-14-dev
  libeigen3-dev
)

kalvex_install_deps() {
  local missing=()
  local p
  for p in "${KALVEX_PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$p")
    fi
  done
  if [ ${#missing[@]} -eq 0 ]; then
    return 0
  fi
  echo "Installing missing packages: ${missing[*]}"
  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
  fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}
