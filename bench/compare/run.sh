#!/bin/sh
# Installs the peer libraries the comparison programs measure against (benchmark-only
# dependencies), builds the bench preset with the comparisons and runs them.
# Usage: bench/compare/run.sh [program...]   (default: every comparison program)
set -eu
cd "$(dirname "$0")/../.."

peers="libcgal-dev libassimp-dev libopenmesh-dev libmeshoptimizer-dev libtinyobjloader-dev"
missing=""
for p in $peers; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
    sudo_cmd=""
    [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
    echo "installing benchmark peers:$missing"
    $sudo_cmd env DEBIAN_FRONTEND=noninteractive apt-get install -y -q $missing >/dev/null
fi

cmake --preset bench -DZAN3D_BUILD_COMPARE=ON >/dev/null
programs="$*"
if [ -z "$programs" ]; then
    for source in bench/compare/compare_*.cpp; do
        programs="$programs $(basename "$source" .cpp)"
    done
fi
for p in $programs; do
    cmake --build build/bench --target "$p"
done
for p in $programs; do
    echo "== $p"
    build/bench/bench/"$p"
done
