#!/usr/bin/env bash
# Installs what is missing, builds, and runs the main job on local defaults.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
bash scripts/build.sh release >/dev/null
ft=build/release/bin/filetransfer

echo "== filetransfer version"
"$ft" version
echo "== default properties"
"$ft" props
