# Shared settings of the set-up scripts; sourced, never run.
VEILCAM_SYSROOT=${VEILCAM_SYSROOT:-/var/lib/veilcam/sysroot}
VEILCAM_CACHE=${VEILCAM_CACHE:-/var/cache/veilcam}
mkdir -p "$(dirname "$VEILCAM_SYSROOT")" "$VEILCAM_CACHE"

log() { printf '[veilcam setup] %s\n' "$*" >&2; }
die() { printf '[veilcam setup] error: %s\n' "$*" >&2; exit 1; }

# The libobs functions that a module built in the sysroot imports, one a line:
# what a package's link library for libobs must hold.
libobs_imports() { # module
    comm -12 <(nm -D --undefined-only "$1" | awk '{ print $2 }' | sort -u) \
        <(nm -D --defined-only "$VEILCAM_SYSROOT/usr/lib/x86_64-linux-gnu/libobs.so.0" |
            awk '{ print $3 }' | sort -u)
}

# Installs on the host those of the named packages that are missing; $1 says
# what they are for.
install_host_packages() { # what package...
    local what=$1 missing=() package
    shift
    for package in "$@"; do
        dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
    done
    if ((${#missing[@]})); then
        log "installing $what on the host: ${missing[*]}"
        apt-get update -q >&2
        DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}" >&2
    fi
}

# What a build outside the sysroot finds its libraries through: libobs as an
# imported library ($1/libobsConfig.cmake; of type $2, at $3, its headers in
# $4, with extra target properties after), and the protobuf target that
# OpenCV's dnn names ($1/protobuf.cmake, from the OpenCV prefix $5).
write_link_configs() { # dir type library headers opencv [property value]...
    local dir=$1 type=$2 library=$3 headers=$4 opencv=$5
    shift 5
    cat >"$dir/libobsConfig.cmake" <<CONFIG
add_library(OBS::libobs $type IMPORTED)
set_target_properties(OBS::libobs PROPERTIES
  IMPORTED_LOCATION "$library"
  INTERFACE_INCLUDE_DIRECTORIES "$headers" $*)
CONFIG
    cat >"$dir/protobuf.cmake" <<CONFIG
add_library(protobuf::libprotobuf STATIC IMPORTED)
set_target_properties(protobuf::libprotobuf PROPERTIES IMPORTED_LOCATION "$opencv/lib/libprotobuf.a")
CONFIG
}

# Configures, builds and installs into $1/stage the module alone, outside the
# sysroot, through the link configuration that write_link_configs wrote into
# $1/libobs, against the OpenCV in $2 and beside the runtime in $3; CMake
# options follow. The models that Python writes come from the sysroot build.
build_package_module() { # build opencv runtime [option]...
    local build=$1 opencv=$2 runtime=$3
    shift 3
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVEILCAM_BUILD_TESTS=OFF \
        -Dlibobs_DIR="$build/libobs" -DOpenCV_DIR="$opencv/lib/cmake/opencv4" \
        -DCMAKE_PROJECT_INCLUDE="$build/libobs/protobuf.cmake" \
        -DONNXRUNTIME_INCLUDE_DIR="$VEILCAM_SYSROOT/usr/include/onnxruntime" \
        -DVEILCAM_ONNXRUNTIME_DIR="$runtime" "$@" >&2
    cmake --build "$build" >&2
    cp "$root"/build/data/models/*_any_size.onnx "$root/build/data/models/face_descriptor.onnx" \
        "$build/data/models/"
    rm -rf "$build/stage"
    cmake --install "$build" --prefix "$build/stage" >&2
}

# The seven functions a module exports, sorted, one a line.
module_exports() {
    printf '%s\n' obs_module_description obs_module_free_locale obs_module_get_string \
        obs_module_load obs_module_set_locale obs_module_set_pointer obs_module_ver
}
