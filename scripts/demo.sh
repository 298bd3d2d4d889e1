#!/usr/bin/env bash
# Installs what is missing, builds the module and the tolvane host, and runs
# the demo: a generated wave bank played through the module on the sound
# card, or, on a machine without one (such as CI), rendered into WAV files
# in build/demo.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset linux
cmake --build --preset linux
mkdir -p build/demo
build/linux/bin/tolvane demo -o build/demo
