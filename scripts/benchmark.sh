#!/usr/bin/env bash
# Measures what a frame costs and writes docs/PERFORMANCE.md: builds, runs the
# frame benchmarks (medians of several repetitions, all in one go), YuNet
# again with glibc kept from returning memory, and the video tool on the
# sample clip; then makes the report.
#   scripts/benchmark.sh
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd -P)
build="$root/build"
results="$build/benchmarks"

"$here/build.sh" "$build"
mkdir -p "$results"
run() { "$here/in-sysroot.sh" "$@"; }

echo "== frame benchmarks (a few minutes)"
run "$build/veilcam_benchmarks" --benchmark_repetitions=5 --benchmark_min_time=0.1s \
    --benchmark_report_aggregates_only=true \
    --benchmark_out="$results/frames.json" --benchmark_out_format=json >/dev/null
echo "== YuNet in a fresh heap, and with glibc keeping its memory"
run "$build/veilcam_benchmarks" --fresh-heap --benchmark_filter='^detector/yunet' \
    --benchmark_repetitions=5 --benchmark_min_time=0.2s --benchmark_report_aggregates_only=true \
    --benchmark_out="$results/yunet_fresh_heap.json" --benchmark_out_format=json >/dev/null
run env GLIBC_TUNABLES=glibc.malloc.mmap_threshold=268435456:glibc.malloc.trim_threshold=1073741824 \
    "$build/veilcam_benchmarks" --fresh-heap --benchmark_filter='^detector/yunet' --benchmark_repetitions=5 \
    --benchmark_min_time=0.2s --benchmark_report_aggregates_only=true \
    --benchmark_out="$results/yunet_kept_memory.json" --benchmark_out_format=json >/dev/null
echo "== video tool on the sample clip"
: >"$results/video_tool.txt"
for _ in 1 2 3; do
    run "$build/veilcam-video" --quiet --overwrite "$root/../shared/samples/faces_pan_720p.mp4" \
        "$results/faces_pan_720p.veilcam.mp4" 2>/dev/null | tee -a "$results/video_tool.txt"
done
run python3 "$root/bench/make_report.py" "$results" "$root/docs/PERFORMANCE.md"
echo "Report: $root/docs/PERFORMANCE.md"
