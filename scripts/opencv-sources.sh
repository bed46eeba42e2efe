# The sources and the recipe that both static OpenCV builds share (Windows
# cross-build, portable Linux module): Debian's own protobuf and OpenCV source
# packages, fetched through an apt configuration of our own (the host's apt
# sources stay as they are), and the OpenCV options that keep only core,
# imgproc, dnn and objdetect. Sourced after common.sh, never run.

apt_dir="$VEILCAM_CACHE/apt-sources"
mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
cat >"$apt_dir/sources.list" <<LIST
deb-src http://deb.debian.org/debian sid main
deb-src http://deb.debian.org/debian bookworm main
LIST
apt_options=(-o "Dir::Etc::sourcelist=$apt_dir/sources.list" -o "Dir::Etc::sourceparts=-"
    -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache"
    -o "Acquire::Check-Valid-Until=false")
sources="$VEILCAM_CACHE/sources"
mkdir -p "$sources"

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

# protobuf as the host's protoc speaks it (bookworm: 3.21.12), and the
# sysroot's OpenCV version; sets protobuf_version, protobuf_source,
# opencv_version and opencv_source, fetching what is missing.
fetch_protobuf_and_opencv() {
    apt-get "${apt_options[@]}" update -q >&2
    protobuf_version=$(dpkg-query -W -f '${source:Version}' protobuf-compiler | sed 's/-[^-]*$//')
    local protobuf_debian
    protobuf_debian=$(dpkg-query -W -f '${source:Version}' protobuf-compiler)
    protobuf_source="$sources/protobuf-$protobuf_debian"
    fetch_source protobuf "$protobuf_debian" "$protobuf_source"
    opencv_version=$("$here/in-sysroot.sh" --no-checkout dpkg-query -W -f '${source:Version}' libopencv-dev)
    # The mirror keeps OpenCV's upstream tarball (which every Debian revision
    # shares) where older revisions' own files are gone; checked against the
    # signed source index.
    local upstream=${opencv_version%-*}
    opencv_source="$sources/opencv-$upstream"
    if [[ ! -d "$opencv_source" ]]; then
        local orig="opencv_${upstream}.orig.tar.xz" sum work
        sum=$(apt-cache "${apt_options[@]}" showsrc opencv | awk -v f="$orig" \
            '/^Checksums-Sha256:/ { on = 1; next } /^[^ ]/ { on = 0 } on && $3 == f && !sum { sum = $1 }
              END { print sum }')
        [[ -n "$sum" ]] || die "no checksum for $orig in Debian's source index"
        work=$(mktemp -d)
        curl -fsSL "http://deb.debian.org/debian/pool/main/o/opencv/${orig//+/%2b}" -o "$work/$orig"
        echo "$sum  $work/$orig" | sha256sum -c --quiet || die "$orig fails its checksum"
        mkdir "$work/src"
        tar -xJf "$work/$orig" -C "$work/src" --strip-components=1
        mv "$work/src" "$opencv_source"
        rm -rf "$work"
    fi
}

# OpenCV's options for both builds: static, the four modules, no codecs,
# accelerators or threading runtimes of their own (OpenMP, TBB).
opencv_options=(-DBUILD_SHARED_LIBS=OFF -DBUILD_LIST=core,imgproc,dnn,objdetect
    -DWITH_PROTOBUF=ON -DBUILD_PROTOBUF=OFF -DPROTOBUF_UPDATE_FILES=ON
    -DProtobuf_PROTOC_EXECUTABLE=/usr/bin/protoc -DBUILD_ZLIB=OFF
    -DWITH_JPEG=OFF -DWITH_PNG=OFF -DWITH_TIFF=OFF -DWITH_WEBP=OFF
    -DWITH_OPENJPEG=OFF -DWITH_JASPER=OFF -DWITH_OPENEXR=OFF -DWITH_IMGCODEC_HDR=OFF
    -DWITH_IPP=OFF -DWITH_ITT=OFF -DWITH_OPENCL=OFF -DWITH_FFMPEG=OFF -DWITH_GSTREAMER=OFF
    -DWITH_DSHOW=OFF -DWITH_MSMF=OFF -DWITH_EIGEN=OFF -DWITH_LAPACK=OFF -DWITH_OPENMP=OFF
    -DWITH_TBB=OFF -DWITH_VA=OFF -DWITH_OBSENSOR=OFF -DWITH_FLATBUFFERS=OFF -DWITH_ADE=OFF
    -DWITH_DIRECTML=OFF -DWITH_GTK=OFF -DWITH_QT=OFF -DWITH_V4L=OFF -DWITH_1394=OFF
    -DBUILD_TESTS=OFF -DBUILD_PERF_TESTS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_opencv_apps=OFF
    -DBUILD_JAVA=OFF -DBUILD_opencv_python3=OFF -DOPENCV_GENERATE_PKGCONFIG=OFF
    -DINSTALL_CREATE_DISTRIB=OFF)

# Builds protobuf (library only) into $1 with the CMake options that follow.
build_protobuf() {
    local prefix=$1
    shift
    cmake -S "$protobuf_source" -B "$prefix.build/protobuf" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$prefix" -Dprotobuf_BUILD_TESTS=OFF \
        -Dprotobuf_BUILD_PROTOC_BINARIES=OFF -Dprotobuf_BUILD_SHARED_LIBS=OFF \
        -Dprotobuf_WITH_ZLIB=OFF "$@" >&2
    cmake --build "$prefix.build/protobuf" -j "$(nproc)" >&2
    cmake --install "$prefix.build/protobuf" >&2
    # OpenCV's own search then takes the host's protoc with these libraries.
    mv "$prefix/lib/cmake/protobuf" "$prefix.build/protobuf-cmake"
}

# Builds OpenCV into $1 against the protobuf there, with the CMake options
# that follow; marks the folder complete.
build_opencv() {
    local prefix=$1
    shift
    cmake -S "$opencv_source" -B "$prefix.build/opencv" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$prefix" -DProtobuf_INCLUDE_DIR="$prefix/include" \
        -DProtobuf_LIBRARY="$prefix/lib/libprotobuf.a" "${opencv_options[@]}" "$@" >&2
    cmake --build "$prefix.build/opencv" -j "$(nproc)" >&2
    cmake --install "$prefix.build/opencv" >&2
    rm -rf "$prefix.build"
    touch "$prefix/.complete"
}
