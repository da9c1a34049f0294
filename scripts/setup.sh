#!/usr/bin/env bash
# Installs every Debian package that building, running and testing need, and the
# font alias for the window's font. Does nothing that is already done.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

packages=(
  # build
  g++ clang cmake ninja-build pkg-config make
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libcurl4-openssl-dev libjpeg62-turbo-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev libclang-rt-14-dev libssl-dev
  nginx-light openssl curl ca-certificates
  xvfb xauth xdotool imagemagick
  # the window's font
  fontconfig fonts-wqy-microhei
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  as_root apt-get update
  DEBIAN_FRONTEND=noninteractive as_root apt-get install -y --no-install-recommends "${missing[@]}"
fi

alias_file=65-brelvik-microsoft-yahei.conf
if ! cmp -s "$root/resources/fonts/$alias_file" "/etc/fonts/conf.d/$alias_file"; then
  as_root install -m 0644 "$root/resources/fonts/$alias_file" "/etc/fonts/conf.d/$alias_file"
  as_root fc-cache -f >/dev/null
fi
