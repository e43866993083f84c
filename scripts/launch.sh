#!/usr/bin/env bash
# Starts the program from its folder (its settings file lives there).
set -euo pipefail
bin=$1
cd "$bin"
exec ./rqdetect
