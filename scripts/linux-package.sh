#!/usr/bin/env bash
# Builds the portable Linux module and writes
# dist/obs-veilcam-linux-x86_64.tar.xz, laid out for OBS 32's plug-in folder
# (unpack into ~/.config/obs-studio/plugins, or for the Flatpak into
# ~/.var/app/com.obsproject.Studio/config/obs-studio/plugins):
#   obs-veilcam/bin/64bit/obs-veilcam.so, libonnxruntime.so.1
#   obs-veilcam/data/locale/en-US.ini, obs-veilcam/data/models/*.onnx
#   obs-veilcam/LICENSE, obs-veilcam/THIRD-PARTY-NOTICES.txt, INSTALL-LINUX.txt
# The module is built on this Debian 12 host with its GCC 12 and glibc 2.36
# headers, not in the sysroot (glibc 2.41, GCC 16), so that it asks for no
# symbol that Ubuntu 22.04, Debian 12, Fedora 38 or the Flatpak's runtime
# lack; OpenCV is linked in statically (scripts/linux-deps.sh). Its needed
# libraries, symbol versions and exports are checked here.
#   scripts/linux-package.sh [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd -P)
# shellcheck source=scripts/common.sh
source "$here/common.sh"
build=${1:-$root/build-linux-package}

opencv=$("$here/linux-deps.sh")
runtime=$("$here/onnxruntime.sh")
# The sysroot build names the libobs functions the module imports and makes
# the models' open-size copies (python3-onnx lives in the sysroot).
VEILCAM_BUILD_TARGETS=obs-veilcam "$here/build.sh" "$root/build" >&2

# libobs is linked through a library of the functions the module imports,
# not the sysroot's own, whose libraries need a newer glibc.
mkdir -p "$build/libobs"
libobs_imports "$root/build/obs-veilcam.so" |
    awk '{ printf "void %s(void) {}\n", $1 }' >"$build/libobs/libobs.c"
gcc -shared -fPIC -Wl,-soname,libobs.so.0 -o "$build/libobs/libobs.so" "$build/libobs/libobs.c"
# libobs's headers want SIMDe's beside them; the sysroot's other headers
# (glibc 2.41's among them) stay out of the way.
mkdir -p "$build/libobs/include"
ln -sfn "$VEILCAM_SYSROOT/usr/include/simde" "$build/libobs/include/simde"
write_link_configs "$build/libobs" SHARED "$build/libobs/libobs.so" \
    "$VEILCAM_SYSROOT/usr/include/obs;$build/libobs/include" "$opencv" IMPORTED_SONAME libobs.so.0

build_package_module "$build" "$opencv" "$runtime" -DVEILCAM_MODULE_ONLY=ON \
    -DCMAKE_MODULE_LINKER_FLAGS=-s
stage="$build/stage"
module="$stage/obs-veilcam/bin/64bit/obs-veilcam.so"

# Where a system with OBS 32 (the sysroot) finds what the module needs.
log "ldd obs-veilcam.so in the sysroot:"
"$here/in-sysroot.sh" ldd "$module" >&2
needed=$(readelf -d "$module" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | sort)
log "obs-veilcam.so needs: $(echo $needed)"
for library in $needed; do
    case "$library" in
    libobs.so.0 | libstdc++.so.6 | libm.so.6 | libgcc_s.so.1 | libc.so.6 | ld-linux-x86-64.so.2) ;;
    *) die "obs-veilcam.so needs $library, which an OBS install does not bring" ;;
    esac
done
highest() { # prefix: the module's highest symbol version of that family
    objdump -T "$module" | grep -o "(${1}_[0-9.]*)" | tr -d '()' | sed "s/^${1}_//" | sort -V | tail -1
}
newest_ok() { # version limit: whether version is no newer than limit
    [[ "$(printf '%s\n%s\n' "$1" "$2" | sort -V | tail -1)" == "$2" ]]
}
glibc=$(highest GLIBC)
glibcxx=$(highest GLIBCXX)
cxxabi=$(highest CXXABI)
log "highest symbol versions: GLIBC_$glibc GLIBCXX_$glibcxx CXXABI_$cxxabi"
newest_ok "$glibc" 2.35 || die "obs-veilcam.so needs GLIBC_$glibc; Ubuntu 22.04 has 2.35"
newest_ok "$glibcxx" 3.4.30 || die "obs-veilcam.so needs GLIBCXX_$glibcxx; GCC 12's is 3.4.30"
newest_ok "${cxxabi:-1.3}" 1.3.13 || die "obs-veilcam.so needs CXXABI_$cxxabi; GCC 12's is 1.3.13"
exports=$(nm -D --defined-only "$module" | awk '{ print $3 }' | sort)
[[ "$exports" == "$(module_exports)" ]] || die "obs-veilcam.so exports more or less than the module functions: $exports"
cp "$root/docs/INSTALL-LINUX.txt" "$stage/"

mkdir -p "$root/dist"
tarball="$root/dist/obs-veilcam-linux-x86_64.tar.xz"
tar -cJf "$tarball" --owner=0 --group=0 -C "$stage" obs-veilcam INSTALL-LINUX.txt
log "wrote $tarball"
echo "$tarball"
