#!/usr/bin/env bash
# Fetches the ONNX Runtime 1.24.3 libraries (API version 24) from the npm
# package that ships them, checks the package against its registry integrity
# hash, and keeps them in the cache. Debian's runtime is 1.23, one API version
# short. Prints the folder that holds linux-x64/ and win32-x64/.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=scripts/common.sh
source "$here/common.sh"

version=1.24.3
integrity='sha512-JH7+czbc8ALA819vlTgcV+Q214/+VjGeBHDjX81+ZCD0PCVCIFGFNtT0V4sXG/1JXypKPgScQcB3ij/hk3YnTg=='
dest="$VEILCAM_CACHE/onnxruntime-$version"

if [[ ! -f "$dest/.complete" ]]; then
    command -v npm >/dev/null || die "npm is needed to fetch ONNX Runtime $version"
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    log "fetching onnxruntime-node@$version from the npm registry"
    (cd "$work" && npm pack --silent "onnxruntime-node@$version" >/dev/null)
    tarball="$work/onnxruntime-node-$version.tgz"
    actual="sha512-$(openssl dgst -sha512 -binary "$tarball" | base64 -w0)"
    [[ "$actual" == "$integrity" ]] || die "onnxruntime-node-$version.tgz fails its integrity check ($actual)"
    tar -xzf "$tarball" -C "$work" \
        package/bin/napi-v6/linux/x64/libonnxruntime.so.1 \
        package/bin/napi-v6/win32/x64/onnxruntime.dll \
        package/bin/napi-v6/win32/x64/DirectML.dll
    rm -rf "$dest"
    mkdir -p "$dest/linux-x64" "$dest/win32-x64"
    mv "$work/package/bin/napi-v6/linux/x64/libonnxruntime.so.1" "$dest/linux-x64/"
    mv "$work/package/bin/napi-v6/win32/x64/onnxruntime.dll" "$work/package/bin/napi-v6/win32/x64/DirectML.dll" "$dest/win32-x64/"
    touch "$dest/.complete"
fi
echo "$dest"
