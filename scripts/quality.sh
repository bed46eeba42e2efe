#!/usr/bin/env bash
# Measures what hiding costs the picture and which faces it lets through, and
# writes docs/QUALITY.md: the video tool at its defaults on the sample clip
# and on clips made here from the sample photos (a pan back and forth, a zoom
# in and out, cuts between the photos), each measured by veilcam-collateral
# against its original. A few minutes; not part of the test command.
#   scripts/quality.sh [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd -P)
build=${1:-$root/build}
samples="$root/../shared/samples"
work="$build/quality"

VEILCAM_BUILD_TARGETS="veilcam-video veilcam-collateral" "$here/build.sh" "$build" >/dev/null
mkdir -p "$work"
run() { "$here/in-sysroot.sh" "$@"; }
encode=(-c:v libx264 -crf 16 -pix_fmt yuv420p -r 30)

# A photo enlarged to 2560 x 1440 (its middle), as a camera's picture.
photo_filter="scale=2560:-2,crop=2560:1440"
run ffmpeg -v error -y -loop 1 -i "$samples/2008_002079.jpg" -frames:v 120 \
    -vf "$photo_filter,scale=1600:900,crop=1280:720:x='abs(mod(n*20\,640)-320)':y=90" \
    "${encode[@]}" "$work/pan.mp4"
run ffmpeg -v error -y -loop 1 -i "$samples/2007_007763.jpg" -frames:v 120 \
    -vf "$photo_filter,zoompan=z='pow(1.04\,10-abs(mod(on\,20)-10))':x='iw/2-iw/zoom/2':y='ih/2-ih/zoom/2':d=1:s=1280x720:fps=30" \
    "${encode[@]}" "$work/zoom.mp4"
inputs=() chains=""
for photo in 2007_007763 2008_002079 2008_001009 2008_001322 2007_007763 2008_001322; do
    inputs+=(-loop 1 -t 0.8 -i "$samples/$photo.jpg")
    n=$((${#inputs[@]} / 6 - 1))
    chains+="[$n:v]scale=1280:720:force_original_aspect_ratio=decrease,pad=1280:720:-1:-1,setsar=1,fps=30[v$n];"
done
run ffmpeg -v error -y "${inputs[@]}" \
    -filter_complex "${chains}[v0][v1][v2][v3][v4][v5]concat=n=6:v=1[out]" -map "[out]" \
    "${encode[@]}" "$work/cuts.mp4"

report="$root/docs/QUALITY.md"
{
    echo "# What hiding costs the picture"
    echo
    echo "Made by \`scripts/quality.sh\` on $(date -u +%Y-%m-%d): the video tool at its defaults"
    echo "(\`cpu-ort\`, a detection on every frame) on each clip, then \`veilcam-collateral\` on the"
    echo "clip and its anonymised copy. The faces are those that YuNet and SCRFD find on the"
    echo "original, each with its box grown by half its size on every side; a part of the"
    echo "picture counts as changed where an 8 x 8 block's mean luma changed by more than 6"
    echo "levels. *Found again*: face boxes of the original that a detector finds again on the"
    echo "copy (a face left visible)."
    echo
    echo "| clip | frames | faces on the original / found again | changed away from the faces: mean, 90th percentile, worst | changed in all: mean, worst | frames over a third changed |"
    echo "|---|---|---|---|---|---|"
    for clip in "$samples/faces_pan_720p.mp4" "$work/pan.mp4" "$work/zoom.mp4" "$work/cuts.mp4"; do
        name=$(basename "$clip" .mp4)
        run "$build/veilcam-video" --overwrite --quiet "$clip" "$work/$name.veilcam.mp4" >/dev/null 2>&1
        out=$(run "$build/veilcam-collateral" "$clip" "$work/$name.veilcam.mp4" 2>/dev/null)
        python3 - "$name" "$out" <<'PY'
import re, sys
name, out = sys.argv[1], sys.argv[2]
frames, faces, again = re.search(r"frames: (\d+), faces on the original: (\d+), found again on the copy: (\d+)", out).groups()
away = re.search(r"changed away from the faces: mean ([\d.]+) %, 90th percentile ([\d.]+) %, worst ([\d.]+) % \(frame (\d+)\)", out).groups()
whole = re.search(r"changed in all: mean ([\d.]+) %, 90th percentile [\d.]+ %, worst ([\d.]+) % \(frame (\d+)\)", out).groups()
third = re.search(r"over a third of the picture changed: (\d+)", out).group(1)
print(f"| {name} | {frames} | {faces} / {again} | {away[0]} %, {away[1]} %, {away[2]} % (frame {away[3]}) | {whole[0]} %, {whole[1]} % (frame {whole[2]}) | {third} |")
PY
    done
    echo
    echo "- *faces_pan_720p*: \`../shared/samples/faces_pan_720p.mp4\`, the main job's clip."
    echo "- *pan*: 2008_002079 at 1600 x 900, seen through a 1280 x 720 window that moves 20 pixels a frame, 320 pixels one way and back."
    echo "- *zoom*: 2007_007763 zoomed in by 4 % a frame for ten frames, then out again."
    echo "- *cuts*: the four photos in turn, 24 frames each, then two of them again."
} >"$report.new"
mv "$report.new" "$report"
cat "$report"
