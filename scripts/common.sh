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
