#!/usr/bin/env bash
# The main job: builds the library and the zan3d command ("dev" preset) and runs it.
# Without arguments it runs the demonstration that builds a small scene, archives it to a
# temporary file, reads it back and summarises what it read.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset dev >/dev/null
cmake --build --preset dev >/dev/null
if [[ $# -eq 0 ]]; then
    set -- demo
fi
exec build/dev/bin/zan3d "$@"
