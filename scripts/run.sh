#!/usr/bin/env bash
# Installs the dependencies, builds Quelt into build/ and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUELT_BUILD_TESTS=OFF -DQUELT_BUILD_BENCH=OFF
cmake --build build
if [ -x build/bin/quelt ]; then
  exec build/bin/quelt "$@"
fi
exec build/bin/quelt-cli --help
