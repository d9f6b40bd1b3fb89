#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the viewer need, when they are missing.
# Idempotent and quiet when there is nothing to do.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config
    libglew-dev libglu1-mesa-dev libgl-dev libegl-dev
    libgl1-mesa-dri libegl-mesa0 libglx-mesa0
    libwxgtk3.2-dev libpng-dev zlib1g-dev libstb-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    xvfb xauth
)

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    if [[ "$status" != "install ok installed" ]]; then
        missing+=("$p")
    fi
done

sudo=""
if [[ $(id -u) -ne 0 ]]; then
    sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
if [[ ${#missing[@]} -gt 0 ]]; then
    echo "install-deps: installing ${missing[*]}"
    if ! $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/tmp/3dzan-apt.log 2>&1; then
        # The package lists of a fresh machine may be stale or empty.
        $sudo apt-get update -qq >>/tmp/3dzan-apt.log 2>&1
        $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >>/tmp/3dzan-apt.log 2>&1 || {
            echo "install-deps: apt-get failed, see /tmp/3dzan-apt.log" >&2
            exit 1
        }
    fi
fi

# Optional: the real-world models the reader tests compare against (tests/io/testmodels_test.cpp
# skips without them). A machine whose package lists lack it still builds and tests.
if [[ "$(dpkg-query -W -f='${Status}' assimp-testmodels 2>/dev/null || true)" != "install ok installed" ]]; then
    $sudo apt-get install -y -qq --no-install-recommends assimp-testmodels >>/tmp/3dzan-apt.log 2>&1 </dev/null ||
        echo "install-deps: assimp-testmodels is not available; the real-file tests will skip" >&2
fi
