#!/usr/bin/env bash
# Configures and builds the project inside the sysroot (set up first if needed).
#   scripts/build.sh [BUILD_DIR] [extra CMake arguments...]
# VEILCAM_BUILD_TARGETS limits the build to the named targets.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd -P)
build=${1:-$root/build}
shift || true
"$here/sysroot.sh"
runtime=$("$here/onnxruntime.sh")
mkdir -p "$build"
"$here/in-sysroot.sh" cmake -S "$root" -B "$build" -G Ninja \
    -DCMAKE_BUILD_TYPE="${VEILCAM_BUILD_TYPE:-RelWithDebInfo}" \
    -DVEILCAM_ONNXRUNTIME_DIR="$runtime" "$@"
targets=()
for target in ${VEILCAM_BUILD_TARGETS:-}; do
    targets+=(--target "$target")
done
"$here/in-sysroot.sh" cmake --build "$build" "${targets[@]}"
