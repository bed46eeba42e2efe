#!/usr/bin/env bash
# Sets up everything (the sysroot, ONNX Runtime), builds, installs into a
# temporary prefix inside the build folder and runs every test, the real-host
# ones under Xvfb.
#   scripts/test.sh [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd -P)
build=${1:-$root/build}

"$here/build.sh" "$build"
"$here/in-sysroot.sh" xvfb-run -a -s "-screen 0 1280x720x24" \
    ctest --test-dir "$build" --output-on-failure --timeout 900 -j "$(nproc)"
