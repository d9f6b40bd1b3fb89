#!/usr/bin/env bash
# The main job: builds the library, the format plug-ins and the zan3d command ("dev" preset),
# then shows the shipped sample scene (zan3d info), converts it to triangles (zan3d convert
# --triangulate), shows the result and measures how far the two are apart (zan3d compare).
# With arguments, runs zan3d with them instead (for example: scripts/run.sh demo).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset dev >/dev/null
cmake --build --preset dev >/dev/null
zan3d=build/dev/bin/zan3d
if [[ $# -gt 0 ]]; then
    exec "$zan3d" "$@"
fi
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
sample=samples/street.3dif
echo "\$ zan3d info $sample"
"$zan3d" info "$sample"
echo
echo "\$ zan3d convert $sample street-triangles.3dif --triangulate"
"$zan3d" convert "$sample" "$out/street-triangles.3dif" --triangulate
echo
echo "\$ zan3d info street-triangles.3dif"
"$zan3d" info "$out/street-triangles.3dif"
echo
echo "\$ zan3d compare $sample street-triangles.3dif"
"$zan3d" compare "$sample" "$out/street-triangles.3dif"
