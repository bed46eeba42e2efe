#!/usr/bin/env bash
# The Windows build under Wine: builds the stand-in obs.dll that holds the
# checks, and its launcher, with mingw-w64, then runs them on a copy of the
# staged plug-in, on Xvfb with Mesa's lavapipe behind DXGI. (DirectML's own
# inference is not among them: Wine cannot run it yet.)
#   tests/windows/run.sh WINDOWS_BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd -P)
# shellcheck source=scripts/common.sh
source "$root/scripts/common.sh"
build=$(cd "$1" && pwd -P)
stage="$build/stage/obs-veilcam"
[[ -f "$stage/bin/64bit/obs-veilcam.dll" ]] || die "no staged plug-in in $build: run scripts/windows.sh"

work="$build/wine-tests"
rm -rf "$work"
mkdir -p "$work/host"
cxx=(x86_64-w64-mingw32-g++-posix -std=c++17 -O1 -Wall -Wextra -Werror -I"$root"
    -isystem "$VEILCAM_SYSROOT/usr/include/obs" -static)
# Exactly the libobs functions the module imports (the link fails when one is
# missing here), some of them under a shared function, and the checks.
{
    sed -E 's/^(obs_properties_add_[a-z0-9_]+)$/\1=stand_in_add_property/
        s/^(obs_filter_get_parent|obs_source_release_frame|obs_module_load_locale|text_lookup_[a-z]+|obs_data_set_int|obs_source_get_signal_handler|signal_handler_(dis)?connect|calldata_get_data|obs_initialized|obs_get_video_info)$/\1=stand_in_nothing/
        s/^(obs_data_(create|release|set_string|set_array|get_array)|obs_data_array_[a-z_]+|gs_image_file_(init|free)|obs_property_set_modified_callback2?|obs_properties_get|obs_property_set_visible|obs_property_text_set_info_type|obs_source_update)$/\1=stand_in_nothing/' \
        "$build/libobs/obs.def"
    echo run_checks
} >"$work/obs.def"
"${cxx[@]}" -shared "$here/stand_in_host.cpp" "$work/obs.def" -o "$work/host/obs.dll" \
    -Wl,--out-implib,"$work/libobs_stand_in.a"
"${cxx[@]}" "$here/launcher.cpp" "$work/libobs_stand_in.a" -o "$work/host/veilcam-test-host.exe"

# The plug-in as the zip lays it out, its runtime set aside for the host to
# put in place half-way; its data again under a name with an accent, as under
# a Windows account named so.
cp -r "$stage" "$work/obs-veilcam"
cp -r "$stage/data" "$work/données"
mv "$work/obs-veilcam/bin/64bit/onnxruntime.dll" "$work/onnxruntime.dll"

photo=2007_007763.jpg
"$root/scripts/in-sysroot.sh" ffmpeg -v error -y -i "$root/../shared/samples/$photo" \
    -f rawvideo -pix_fmt bgra "$work/photo.bgra"
# Its size, then each labelled face.
awk -F, -v p="$photo" '$1 == p { if (!n++) print $2, $3; print $4, $5, $6, $7 }' \
    "$root/../shared/samples/faces.csv" >"$work/photo.txt"

export WINEPREFIX="$VEILCAM_CACHE/wine-prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [[ ! -f "$WINEPREFIX/.veilcam-ready" ]]; then
    log "making the Wine prefix (once)"
    rm -rf "$WINEPREFIX"
    wineboot --init >/dev/null 2>&1
    # DXGI on Vulkan (lavapipe); a crash ends the process instead of opening a debugger.
    wine reg add 'HKCU\Software\Wine\Direct3D' /v renderer /t REG_SZ /d vulkan /f >/dev/null 2>&1
    wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger \
        /t REG_SZ /d none.exe /f >/dev/null 2>&1
    wineserver -w
    touch "$WINEPREFIX/.veilcam-ready"
fi
# Wine's Z: is the Unix root. (winepath would start Wine outside Xvfb, and a
# Wine started without a display keeps DXGI from finding the adapter.)
windows_path() { echo "Z:${1//\//\\}"; }
wineserver -k 2>/dev/null || true

log "Wine checks"
checks=$(mktemp)
trap 'rm -f "$checks"' EXIT
xvfb-run -a -s "-screen 0 1280x720x24" timeout 300 wine "$work/host/veilcam-test-host.exe" \
    "$(windows_path "$work")" | tee "$checks"
echo "wine checks: $(grep -c '^ok:' "$checks") passed, 0 failed"
wineserver -k 2>/dev/null || true
