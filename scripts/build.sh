#!/usr/bin/env bash
# build.sh NAME [BUILD_TYPE] [SANITIZER]: configures and builds into build/NAME.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
name=${1:-release}
type=${2:-RelWithDebInfo}
sanitizer=${3:-}
cc=gcc
cxx=g++
if [ -n "$sanitizer" ]; then
  cc=clang
  cxx=clang++
fi
cmake -S "$root" -B "$root/build/$name" -G Ninja -DCMAKE_BUILD_TYPE="$type" \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" -DBRELVIK_SANITIZER="$sanitizer" >/dev/null
cmake --build "$root/build/$name" -j "$(nproc)"
