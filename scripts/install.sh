#!/usr/bin/env bash
# Builds the plug-in and installs it for the current user's OBS Studio:
#   scripts/install.sh [PLUGIN_FOLDER]   (default ~/.config/obs-studio/plugins)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd -P)
target=${1:-$HOME/.config/obs-studio/plugins}

"$here/build.sh" "$root/build"
staging="$root/build/install-staging"
rm -rf "$staging"
"$here/in-sysroot.sh" cmake --install "$root/build" --prefix "$staging"
mkdir -p "$target"
cp -r "$staging/obs-veilcam" "$target/"
echo "obs-veilcam installed in $target/obs-veilcam"
