#!/usr/bin/env bash
# Builds the release program and packs it into a .deb under build/release.
# Prints the package's path.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/build.sh" release RelWithDebInfo "" >&2
(cd "$root/build/release" && cpack -G DEB >&2)
ls -t "$root"/build/release/brelvik_*.deb | head -n 1
