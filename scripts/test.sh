#!/usr/bin/env bash
# Sets up everything (the sysroot, ONNX Runtime, the Linux package's static
# OpenCV), builds, unpacks the Linux package into a temporary prefix inside
# the build folder and runs every test: the plain build (its real-host tests
# load the packaged module), then the unit and end-to-end tests again under AddressSanitizer and
# UndefinedBehaviorSanitizer, then the threading test under ThreadSanitizer;
# last the Windows x64 build, cross-built and checked under Wine. The
# real-host tests and Wine run under Xvfb.
#   scripts/test.sh
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd -P)

passed=0
run_ctest() {
    local build=$1 log
    shift
    log=$(mktemp)
    "$here/in-sysroot.sh" env "${sanitizer_env[@]}" \
        xvfb-run -a -s "-screen 0 1280x720x24" \
        ctest --test-dir "$build" --output-on-failure --timeout 900 -j "$(nproc)" "$@" |
        tee "$log"
    passed=$((passed + $(sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\).*/\1/p' "$log")))
    rm -f "$log"
}

echo "== plain build, and the Linux package whose module the real host loads"
sanitizer_env=(VEILCAM_PLAIN=1)
"$here/build.sh" "$root/build"
package=$("$here/linux-package.sh")
"$here/build.sh" "$root/build" -DVEILCAM_TEST_PACKAGE="$package"
run_ctest "$root/build"

echo "== AddressSanitizer and UndefinedBehaviorSanitizer"
sanitizer_env=(ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1)
"$here/build.sh" "$root/build-asan" -DVEILCAM_SANITIZE=address -DVEILCAM_TEST_PACKAGE=
run_ctest "$root/build-asan"

echo "== ThreadSanitizer"
sanitizer_env=(TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1)
VEILCAM_BUILD_TARGETS=veilcam_unit_tests \
    "$here/build.sh" "$root/build-tsan" -DVEILCAM_SANITIZE=thread
run_ctest "$root/build-tsan" -R '^Concurrency\.' --fixture-exclude-setup installed_plugin

echo "== Windows x64 under Wine"
"$here/windows.sh" "$root/build-windows" >/dev/null
log=$(mktemp)
"$root/tests/windows/run.sh" "$root/build-windows" | tee "$log"
passed=$((passed + $(sed -n 's/^wine checks: \([0-9]*\) passed.*/\1/p' "$log")))
rm -f "$log"

echo "tests: $passed passed, 0 failed"
