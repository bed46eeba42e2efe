#!/usr/bin/env bash
# Runs a command inside the sysroot, with the checkout and ../shared mounted at
# their own paths and the working directory kept. The mounts live in a private
# mount namespace, so nothing stays mounted on the host when the command ends.
#   scripts/in-sysroot.sh [--no-checkout] COMMAND [ARGS...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=scripts/common.sh
source "$here/common.sh"

with_checkout=1
if [[ "${1:-}" == "--no-checkout" ]]; then
    with_checkout=0
    shift
fi
[[ $# -gt 0 ]] || die "usage: in-sysroot.sh [--no-checkout] COMMAND [ARGS...]"
[[ -d "$VEILCAM_SYSROOT/usr" ]] || die "no sysroot at $VEILCAM_SYSROOT: run scripts/sysroot.sh first"

checkout=$(cd "$here/.." && pwd -P)
shared_link="$(dirname "$checkout")/shared"
shared=$(cd "$shared_link" 2>/dev/null && pwd -P || true)
workdir=$(pwd -P)
# Each bind is "SOURCE:TARGET" inside the sysroot.
binds=()
if [[ $with_checkout == 1 ]]; then
    binds+=("$checkout:$checkout")
    if [[ -n "$shared" ]]; then
        binds+=("$shared:$shared")
        # ../shared may be a link to elsewhere: it is seen at both paths.
        [[ "$shared" != "$shared_link" ]] && binds+=("$shared:$shared_link")
    fi
    [[ -d "$VEILCAM_CACHE" ]] && binds+=("$VEILCAM_CACHE:$VEILCAM_CACHE")
else
    workdir=/
fi

exec unshare --mount --propagation private /bin/bash -s -- "$VEILCAM_SYSROOT" "$workdir" "${#binds[@]}" "${binds[@]}" "$@" <<'INNER'
set -euo pipefail
root=$1 workdir=$2 nbinds=$3
shift 3
binds=("${@:1:$nbinds}")
shift "$nbinds"
mount --rbind /proc "$root/proc"
mount --rbind /sys "$root/sys"
mount --rbind /dev "$root/dev"
for bind in "${binds[@]}"; do
    source=${bind%%:*} target=${bind#*:}
    mkdir -p "$root$target"
    mount --bind "$source" "$root$target"
done
exec chroot "$root" /usr/bin/env -i \
    HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" CI="${CI:-}" \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    /bin/bash -c 'cd "$0" && exec "$@"' "$workdir" "$@"
INNER
