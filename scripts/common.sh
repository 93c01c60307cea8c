# Shared by scripts/run and scripts/test: installs what a fresh Debian 12 machine lacks, builds.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
JOBS="$(nproc)"
# Several checkouts (worktrees) of the project share one compiler cache.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$ROOT}" CCACHE_NOHASHDIR=1

PACKAGES=(
  cmake g++ clang libclang-rt-14-dev ninja-build ccache pkg-config
  qt6-base-dev qt6-webengine-dev libgl-dev
  qt6-tools-dev qt6-l10n-tools qt6-translations-l10n
  libssl-dev openssl osslsigncode libcurl4-openssl-dev nlohmann-json3-dev tinyproxy
  p11-kit p11-kit-modules libp11-dev libp11-kit-dev softhsm2 opensc
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth xdotool imagemagick fonts-wqy-zenhei
  gnutls-bin acl
  lintian desktop-file-utils appstream
)

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# osslsigncode 2.9 (the version we sign with) comes from bookworm-backports.
ensure_backports() {
  if ! grep -rqs 'bookworm-backports' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    echo 'deb http://deb.debian.org/debian bookworm-backports main' |
      as_root tee /etc/apt/sources.list.d/quillory-backports.list >/dev/null
  fi
}

osslsigncode_is_recent() {
  command -v osslsigncode >/dev/null &&
    dpkg --compare-versions "$(dpkg-query -W -f='${Version}' osslsigncode 2>/dev/null)" ge 2.9
}

install_packages() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  osslsigncode_is_recent || missing+=(osslsigncode)
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  ensure_backports
  as_root apt-get update -qq
  local plain=()
  for p in "${missing[@]}"; do [ "$p" = osslsigncode ] || plain+=("$p"); done
  if [ ${#plain[@]} -gt 0 ]; then
    DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -qq \
      "${plain[@]}" >/dev/null
  fi
  if ! osslsigncode_is_recent; then
    DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -qq -t bookworm-backports osslsigncode >/dev/null
  fi
}

# build <folder> [extra cmake arguments...]
build() {
  local dir="$1"; shift
  cmake -S "$ROOT" -B "$ROOT/$dir" -G Ninja "$@" >/dev/null
  cmake --build "$ROOT/$dir" -j "$JOBS"
}

# Starts Xvfb on a free display number when there is no display; sets DISPLAY.
XVFB_PID=""
start_xvfb() {
  local n=99
  while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
  XVFB_PID=$!
  export DISPLAY=":$n"
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && return 0; sleep 0.1; done
  echo "Xvfb did not start" >&2; return 1
}

stop_xvfb() {
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null || true
}
