#!/usr/bin/env bash
# Installs what is missing, builds, and runs the program on the virtual board.
# With a display it opens the program there; without one it runs it under a
# virtual display, saves a screenshot and prints where.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
scripts/install-deps.sh
scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo
exec "$here/scripts/launch.sh" "$here/build/bin"
