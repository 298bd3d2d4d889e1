#!/usr/bin/env bash
# Installs what is missing, builds the module and the tolvane host, and runs
# the demo: a generated Xbox ADPCM file played through the module into a WAV.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset linux
cmake --build --preset linux
mkdir -p build/demo
build/linux/bin/tolvane demo -o build/demo
