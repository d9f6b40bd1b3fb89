#!/usr/bin/env bash
# Makes the sample scenes of this folder with the zan3d command of the "dev" build: the
# demonstration scene (a street with a house, its shared neighbour, a subdivided tree, a
# material, a sphere, a lamp post, a camera and a light) as a native archive, and the same
# scene in each text format whose writer module is built.
set -euo pipefail
cd "$(dirname "$0")"
zan3d=../build/dev/bin/zan3d
"$zan3d" demo street.3dif >/dev/null
for format in obj; do
    if ls ../build/dev/lib/plugins/zan3d_"$format".so >/dev/null 2>&1; then
        "$zan3d" convert street.3dif "street.$format" --global
    fi
done
