#!/usr/bin/env bash
# Sets up, builds and starts the program on the desktop.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" release RelWithDebInfo ""
program="$root/build/release/src/ui/brelvik"
if [ ! -x "$program" ]; then
  echo "run: the build did not produce $program." >&2
  exit 1
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "run: the program needs a desktop: no DISPLAY or WAYLAND_DISPLAY is set." >&2
  echo "run: on a machine without one, try: xvfb-run -a scripts/run.sh" >&2
  exit 1
fi
exec "$program"
