#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, skipping those already present.
# Usage: scripts/deps.sh [extra-package...]
set -euo pipefail

# groff-base renders the manual page for the install test; duktape-dev is the
# JavaScript engine of proxy auto-configuration scripts; xvfb, x11-utils and xauth
# are the display, the X client and the cookie tool of the X11 forwarding test.
packages=(cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libssl-dev zlib1g-dev groff-base
    duktape-dev xvfb x11-utils xauth "$@")

missing=()
for pkg in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$pkg")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    echo "deps: missing packages: ${missing[*]} (run as root to install them)" >&2
    exit 1
fi
echo "deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
