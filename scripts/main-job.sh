#!/usr/bin/env bash
# The main job: sets everything up on a fresh machine, builds, and hides the
# faces in the sample clip with the video tool. Writes the anonymised clip and
# a before/after still into OUT_DIR (default: out/ in the checkout).
#   scripts/main-job.sh [OUT_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd -P)
out=${1:-$root/out}
clip="$root/../shared/samples/faces_pan_720p.mp4"

[[ -f "$clip" ]] || { echo "main-job: the sample clip $clip is missing" >&2; exit 1; }
VEILCAM_BUILD_TARGETS=veilcam-video "$here/build.sh" "$root/build"
mkdir -p "$out"
out=$(cd "$out" && pwd -P)
[[ "$out" == "$root"/* ]] || { echo "main-job: OUT_DIR must be inside the checkout ($root)" >&2; exit 1; }
"$here/in-sysroot.sh" "$root/build/veilcam-video" --overwrite --quiet \
    --still "$out/faces_pan_720p.before_after.png" --still-at 1.0 \
    "$clip" "$out/faces_pan_720p.veilcam.mp4"
echo "Anonymised clip:    $out/faces_pan_720p.veilcam.mp4"
echo "Before/after still: $out/faces_pan_720p.before_after.png"
