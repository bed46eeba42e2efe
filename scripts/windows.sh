#!/usr/bin/env bash
# Cross-builds the plug-in for Windows x64 with mingw-w64 and writes
# dist/obs-veilcam-windows-x64.zip, laid out for OBS 32's plug-in folder
# (unzip into %ProgramData%\obs-studio\plugins):
#   obs-veilcam/bin/64bit/obs-veilcam.dll, onnxruntime.dll, DirectML.dll
#   obs-veilcam/data/locale/en-US.ini, obs-veilcam/data/models/*.onnx
# The C++ runtime, winpthreads and OpenCV are linked in statically; the DLL
# imports only obs.dll, dxgi.dll and Windows' own libraries, and exports the
# seven module functions (checked here).
#   scripts/windows.sh [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd -P)
# shellcheck source=scripts/common.sh
source "$here/common.sh"
build=${1:-$root/build-windows}

opencv=$("$here/windows-deps.sh")
runtime=$("$here/onnxruntime.sh")
# The Linux module names the libobs functions the module imports; the models'
# open-size copies are made there too (python3-onnx lives in the sysroot).
VEILCAM_BUILD_TARGETS=obs-veilcam "$here/build.sh" "$root/build" >&2

mkdir -p "$build/libobs"
{
    echo "LIBRARY obs.dll"
    echo "EXPORTS"
    libobs_imports "$root/build/obs-veilcam.so"
} >"$build/libobs/obs.def"
x86_64-w64-mingw32-dlltool -d "$build/libobs/obs.def" -l "$build/libobs/libobs.a" -D obs.dll
write_link_configs "$build/libobs" STATIC "$build/libobs/libobs.a" \
    "$VEILCAM_SYSROOT/usr/include/obs" "$opencv"

# The runtime's C header spells the calling convention the MSVC way.
build_package_module "$build" "$opencv" "$runtime" \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_CXX_FLAGS="-D_stdcall=__stdcall" \
    -DCMAKE_MODULE_LINKER_FLAGS="-static -s -Wl,--no-undefined"
stage="$build/stage"
dll="$stage/obs-veilcam/bin/64bit/obs-veilcam.dll"
exports=$(x86_64-w64-mingw32-objdump -p "$dll" |
    awk '/\[Ordinal\/Name Pointer\] Table/ { on = 1; next } on && NF == 0 { on = 0 } on { print $NF }' | sort)
[[ "$exports" == "$(module_exports)" ]] || die "the DLL exports more or less than the module functions: $exports"
imports=$(x86_64-w64-mingw32-objdump -p "$dll" | awk '/DLL Name:/ { print $3 }' | sort -u)
log "obs-veilcam.dll imports: $(echo $imports)"
for import in $imports; do
    case "${import,,}" in
    obs.dll | dxgi.dll | kernel32.dll | msvcrt.dll | ucrtbase.dll | api-ms-win-crt-*) ;;
    *) die "obs-veilcam.dll imports $import, which OBS does not bring" ;;
    esac
done
cp "$root/docs/INSTALL-WINDOWS.txt" "$stage/"

mkdir -p "$root/dist"
zip_file="$root/dist/obs-veilcam-windows-x64.zip"
rm -f "$zip_file"
(cd "$stage" && zip -q -r "$zip_file" obs-veilcam INSTALL-WINDOWS.txt)
log "wrote $zip_file"
echo "$zip_file"
