#!/usr/bin/env bash
# Makes the static OpenCV that the portable Linux module links: core,
# imgproc, dnn and objdetect from Debian's source, position-independent,
# built by this Debian 12 host's GCC 12 against its glibc 2.36 headers (so
# that the module asks for nothing newer than older systems have), with no
# parallel framework at all: it starts no threads inside OBS. Kept in the
# cache under its versions. Prints the folder it is installed in.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=scripts/common.sh
source "$here/common.sh"

host_packages=(g++ cmake ninja-build protobuf-compiler zlib1g-dev dpkg-dev curl xz-utils)
install_host_packages "the Linux package's build tools" "${host_packages[@]}"

# shellcheck source=scripts/opencv-sources.sh
source "$here/opencv-sources.sh"

exec 9>"$VEILCAM_CACHE/linux-deps.lock"
flock 9
fetch_protobuf_and_opencv
prefix="$VEILCAM_CACHE/linux-opencv-${opencv_version%-*}-protobuf-${protobuf_version}"
if [[ -f "$prefix/.complete" ]]; then
    echo "$prefix"
    exit 0
fi
rm -rf "$prefix" "$prefix.build"
pic=(-DCMAKE_POSITION_INDEPENDENT_CODE=ON -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG"
    -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG")
log "building protobuf $protobuf_version for the Linux package (about 5 minutes)"
build_protobuf "$prefix" "${pic[@]}"
log "building OpenCV $opencv_version for the Linux package (about 30 minutes)"
build_opencv "$prefix" "${pic[@]}" -DWITH_PTHREADS_PF=OFF \
    -DZLIB_LIBRARY_RELEASE=/usr/lib/x86_64-linux-gnu/libz.a
echo "$prefix"
