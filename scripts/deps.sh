# Installs the Debian packages the build needs, only when one is missing.
# Sourced by run.sh, test.sh and bench/run.sh.
KALVEX_PACKAGES=(
  cmake ninja-build g++ pkg-config ccache
  libgtest-dev libgmock-dev libbenchmark-dev
  zlib1g-dev libpng-dev libtiff-dev
  imagemagick netpbm
  clang libclang-rt-14-dev clang-format
  libeigen3-dev libglm-dev
  libxml2-utils opencollada-tools python3-collada assimp-utils
  qhull-bin
  qt6-base-dev qt6-base-dev-tools qt6-l10n-tools qt6-translations-l10n qt6-image-formats-plugins
  # The window driven on a virtual display (scripts/gui_smoke.sh): the display, the mouse,
  # the accessibility bus that finds the controls by their texts, and a font to draw them.
  xvfb xauth xdotool dbus at-spi2-core gir1.2-atspi-2.0 python3-gi fonts-dejavu-core
)

# Adds the peer libraries the benchmarks compare with: every bench/*.cpp names its
# Debian package in a line "// bench-peer: <package>".
kalvex_add_bench_peers() {
  local peers
  mapfile -t peers < <(sed -n 's|^// bench-peer: *\([a-z0-9.+-]*\).*|\1|p' bench/*.cpp | sort -u)
  KALVEX_PACKAGES+=("${peers[@]}")
}

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
  # Wait for another install to finish instead of failing on apt's lock.
  local lock=(-o DPkg::Lock::Timeout=600)
  $sudo apt-get "${lock[@]}" update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get "${lock[@]}" install -y -qq \
    --no-install-recommends "${missing[@]}"
}
