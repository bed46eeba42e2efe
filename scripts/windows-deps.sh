#!/usr/bin/env bash
# Makes what the Windows x64 cross-build needs and Debian does not ship for
# mingw-w64: a static protobuf (for OpenCV's dnn module) and a static OpenCV
# with core, imgproc, dnn and objdetect, both built from Debian's own source
# packages and kept in the cache under their versions, like the sysroot. The
# cross tools and Wine are installed on the host on first use. Prints the
# folder OpenCV is installed in (its CMake package under lib/cmake/opencv4).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd -P)
# shellcheck source=scripts/common.sh
source "$here/common.sh"

host_packages=(g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev mingw-w64-tools
    binutils-mingw-w64-x86-64 libz-mingw-w64-dev protobuf-compiler cmake ninja-build zip
    wine64 wine libvkd3d1 libvkd3d-shader1 mesa-vulkan-drivers libvulkan1 xvfb dpkg-dev curl)
install_host_packages "the Windows cross tools and Wine" "${host_packages[@]}"

# shellcheck source=scripts/opencv-sources.sh
source "$here/opencv-sources.sh"

exec 9>"$VEILCAM_CACHE/windows-deps.lock"
flock 9
fetch_protobuf_and_opencv
prefix="$VEILCAM_CACHE/mingw-opencv-${opencv_version%-*}-protobuf-${protobuf_version}"
if [[ -f "$prefix/.complete" ]]; then
    echo "$prefix"
    exit 0
fi
toolchain="$root/cmake/mingw-w64-x86_64.cmake"
rm -rf "$prefix" "$prefix.build"
log "building protobuf $protobuf_version for mingw-w64 (about 8 minutes)"
build_protobuf "$prefix" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_CXX_FLAGS=-O1
log "building OpenCV $opencv_version for mingw-w64 (about 25 minutes)"
build_opencv "$prefix" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_CXX_FLAGS=-O1 \
    -DCMAKE_C_FLAGS=-O1 -DZLIB_LIBRARY_RELEASE=/usr/x86_64-w64-mingw32/lib/libz.a
echo "$prefix"
