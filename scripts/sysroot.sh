#!/usr/bin/env bash
# Makes sure the Debian unstable sysroot exists and holds every package in
# sysroot-packages.txt. Debian 12's own libobs, OpenCV and missing ONNX Runtime
# cannot build this plug-in, so everything builds and runs in there.
# A second run with an unchanged package list returns at once; a grown list
# installs only what is missing.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=scripts/common.sh
source "$here/common.sh"

wanted=$(grep -v -e '^#' -e '^$' "$here/sysroot-packages.txt" | sort -u)
stamp="$VEILCAM_SYSROOT/.veilcam-packages"

exec 9>"$VEILCAM_SYSROOT.lock"
flock 9

if [[ -f "$stamp" ]] && [[ "$(cat "$stamp")" == "$wanted" ]]; then
    exit 0
fi

debian_mirror() {
    local uri
    uri=$(awk '/^URIs:/ && $2 !~ /security/ { print $2; exit }' /etc/apt/sources.list.d/*.sources 2>/dev/null || true)
    if [[ -z "$uri" ]]; then
        uri=$(awk '$1 == "deb" && $0 !~ /security/ { for (i = 2; i <= NF; i++) if ($i ~ /^https?:/) { print $i; exit } }' \
            /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null || true)
    fi
    [[ -n "$uri" ]] || die "no Debian mirror found in the host's apt configuration"
    echo "$uri"
}

if [[ -f "$stamp" ]]; then
    missing=$(comm -13 "$stamp" <(echo "$wanted") | tr '\n' ' ')
    log "extending the sysroot at $VEILCAM_SYSROOT with: $missing"
    cp /etc/resolv.conf "$VEILCAM_SYSROOT/etc/resolv.conf" 2>/dev/null || true
    # shellcheck disable=SC2086
    "$here/in-sysroot.sh" --no-checkout sh -c \
        "apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $missing"
else
    if ! command -v mmdebstrap >/dev/null; then
        log "installing mmdebstrap on the host"
        apt-get update -q
        DEBIAN_FRONTEND=noninteractive apt-get install -y -q mmdebstrap
    fi
    mirror=$(debian_mirror)
    log "creating the Debian unstable sysroot at $VEILCAM_SYSROOT from $mirror (a few minutes)"
    rm -rf "$VEILCAM_SYSROOT.new"
    mmdebstrap --variant=apt \
        --aptopt='Acquire::Check-Valid-Until "false"' \
        --aptopt='APT::Install-Recommends "false"' \
        --include="$(echo "$wanted" | paste -sd,)" \
        sid "$VEILCAM_SYSROOT.new" "$mirror"
    rm -rf "$VEILCAM_SYSROOT"
    mv "$VEILCAM_SYSROOT.new" "$VEILCAM_SYSROOT"
fi
echo "$wanted" >"$stamp"
log "sysroot ready"
