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

[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=""
if [[ $(id -u) -ne 0 ]]; then
    sudo="sudo"
fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
if ! $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/tmp/3dzan-apt.log 2>&1; then
    # The package lists of a fresh machine may be stale or empty.
    $sudo apt-get update -qq >>/tmp/3dzan-apt.log 2>&1
    $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >>/tmp/3dzan-apt.log 2>&1 || {
        echo "install-deps: apt-get failed, see /tmp/3dzan-apt.log" >&2
        exit 1
    }
fi
