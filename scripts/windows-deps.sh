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
missing=()
for package in "${host_packages[@]}"; do
    dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
if ((${#missing[@]})); then
    log "installing the Windows cross tools and Wine on the host: ${missing[*]}"
    apt-get update -q >&2
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}" >&2
fi

# Source packages through an apt configuration of our own: the host's apt
# sources stay as they are.
apt_dir="$VEILCAM_CACHE/apt-sources"
mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
cat >"$apt_dir/sources.list" <<LIST
deb-src http://deb.debian.org/debian sid main
deb-src http://deb.debian.org/debian bookworm main
LIST
apt_options=(-o "Dir::Etc::sourcelist=$apt_dir/sources.list" -o "Dir::Etc::sourceparts=-"
    -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache"
    -o "Acquire::Check-Valid-Until=false")
fetch_source() { # package version folder
    if [[ ! -d "$3" ]]; then
        local work
        work=$(mktemp -d)
        (cd "$work" && apt-get "${apt_options[@]}" source --download-only "$1=$2" >&2 &&
            dpkg-source --no-check -x ./*.dsc src >&2)
        mv "$work/src" "$3"
        rm -rf "$work"
    fi
}

exec 9>"$VEILCAM_CACHE/windows-deps.lock"
flock 9
apt-get "${apt_options[@]}" update -q >&2

# protobuf as the host's protoc speaks it (bookworm: 3.21.12).
protobuf_version=$(dpkg-query -W -f '${source:Version}' protobuf-compiler | sed 's/-[^-]*$//')
opencv_version=$("$here/in-sysroot.sh" --no-checkout dpkg-query -W -f '${source:Version}' libopencv-dev)
prefix="$VEILCAM_CACHE/mingw-opencv-${opencv_version%-*}-protobuf-${protobuf_version}"
if [[ -f "$prefix/.complete" ]]; then
    echo "$prefix"
    exit 0
fi
toolchain="$root/cmake/mingw-w64-x86_64.cmake"
sources="$VEILCAM_CACHE/sources"
mkdir -p "$sources"
jobs=$(nproc)

protobuf_debian=$(dpkg-query -W -f '${source:Version}' protobuf-compiler)
fetch_source protobuf "$protobuf_debian" "$sources/protobuf-$protobuf_debian"
# The mirror keeps OpenCV's upstream tarball (which every Debian revision
# shares) where older revisions' own files are gone; checked against the
# signed source index.
opencv_upstream=${opencv_version%-*}
if [[ ! -d "$sources/opencv-$opencv_upstream" ]]; then
    orig="opencv_${opencv_upstream}.orig.tar.xz"
    sum=$(apt-cache "${apt_options[@]}" showsrc opencv | awk -v f="$orig" \
        '/^Checksums-Sha256:/ { on = 1; next } /^[^ ]/ { on = 0 } on && $3 == f && !sum { sum = $1 }
          END { print sum }')
    [[ -n "$sum" ]] || die "no checksum for $orig in Debian's source index"
    work=$(mktemp -d)
    curl -fsSL "http://deb.debian.org/debian/pool/main/o/opencv/${orig//+/%2b}" -o "$work/$orig"
    echo "$sum  $work/$orig" | sha256sum -c --quiet || die "$orig fails its checksum"
    mkdir "$work/src"
    tar -xJf "$work/$orig" -C "$work/src" --strip-components=1
    mv "$work/src" "$sources/opencv-$opencv_upstream"
    rm -rf "$work"
fi

log "building protobuf $protobuf_version for mingw-w64 (about 8 minutes)"
rm -rf "$prefix" "$prefix.build"
cmake -S "$sources/protobuf-$protobuf_debian" -B "$prefix.build/protobuf" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS=-O1 \
    -DCMAKE_INSTALL_PREFIX="$prefix" -Dprotobuf_BUILD_TESTS=OFF \
    -Dprotobuf_BUILD_PROTOC_BINARIES=OFF -Dprotobuf_BUILD_SHARED_LIBS=OFF \
    -Dprotobuf_WITH_ZLIB=OFF >&2
cmake --build "$prefix.build/protobuf" -j "$jobs" >&2
cmake --install "$prefix.build/protobuf" >&2
# OpenCV's own search then takes the host's protoc with these libraries.
mv "$prefix/lib/cmake/protobuf" "$prefix.build/protobuf-cmake"

log "building OpenCV $opencv_version for mingw-w64 (about 25 minutes)"
cmake -S "$sources/opencv-$opencv_upstream" -B "$prefix.build/opencv" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS=-O1 \
    -DCMAKE_C_FLAGS=-O1 -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF \
    -DBUILD_LIST=core,imgproc,dnn,objdetect -DWITH_PROTOBUF=ON -DBUILD_PROTOBUF=OFF \
    -DPROTOBUF_UPDATE_FILES=ON -DProtobuf_INCLUDE_DIR="$prefix/include" \
    -DProtobuf_LIBRARY="$prefix/lib/libprotobuf.a" -DProtobuf_PROTOC_EXECUTABLE=/usr/bin/protoc \
    -DBUILD_ZLIB=OFF -DZLIB_LIBRARY_RELEASE=/usr/x86_64-w64-mingw32/lib/libz.a -DWITH_JPEG=OFF -DWITH_PNG=OFF -DWITH_TIFF=OFF -DWITH_WEBP=OFF \
    -DWITH_OPENJPEG=OFF -DWITH_JASPER=OFF -DWITH_OPENEXR=OFF -DWITH_IMGCODEC_HDR=OFF \
    -DWITH_IPP=OFF -DWITH_ITT=OFF -DWITH_OPENCL=OFF -DWITH_FFMPEG=OFF -DWITH_GSTREAMER=OFF \
    -DWITH_DSHOW=OFF -DWITH_MSMF=OFF -DWITH_EIGEN=OFF -DWITH_LAPACK=OFF -DWITH_OPENMP=OFF \
    -DWITH_VA=OFF -DWITH_OBSENSOR=OFF -DWITH_FLATBUFFERS=OFF -DWITH_ADE=OFF -DWITH_DIRECTML=OFF \
    -DBUILD_TESTS=OFF -DBUILD_PERF_TESTS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_opencv_apps=OFF \
    -DBUILD_JAVA=OFF -DBUILD_opencv_python3=OFF -DOPENCV_GENERATE_PKGCONFIG=OFF \
    -DINSTALL_CREATE_DISTRIB=OFF >&2
cmake --build "$prefix.build/opencv" -j "$jobs" >&2
cmake --install "$prefix.build/opencv" >&2
rm -rf "$prefix.build"
touch "$prefix/.complete"
echo "$prefix"
