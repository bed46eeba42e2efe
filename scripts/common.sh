# Shared settings of the set-up scripts; sourced, never run.
VEILCAM_SYSROOT=${VEILCAM_SYSROOT:-/var/lib/veilcam/sysroot}
VEILCAM_CACHE=${VEILCAM_CACHE:-/var/cache/veilcam}
mkdir -p "$(dirname "$VEILCAM_SYSROOT")" "$VEILCAM_CACHE"

log() { printf '[veilcam setup] %s\n' "$*" >&2; }
die() { printf '[veilcam setup] error: %s\n' "$*" >&2; exit 1; }
