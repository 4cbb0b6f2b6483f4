#!/usr/bin/env bash
# Installs what is missing, builds the optimised program and runs its main job.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"

build="$top/build/release"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DLINVERA_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)"

exec "$build/bin/linvera-reg" query 'HKLM\SOFTWARE\HALVEX\linvera' "$@"
