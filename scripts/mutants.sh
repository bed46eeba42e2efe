#!/usr/bin/env bash
# Applies one-line faults to the product code, one at a time, and reports
# which of them the plain test suite kills: a check that the tests catch the
# faults that matter, not only that they pass.
#   scripts/mutants.sh [MUTANTS_FILE] [BUILD_DIR]
# MUTANTS_FILE (default scripts/mutants.txt) holds blocks of four lines:
#   @ name
#   path/of/file.cpp
#   - text as it stands (must occur exactly once)
#   + text that replaces it
# The build is the test command's plain one, the real host loading the Linux
# package's module rebuilt with each mutant. The unmutated tree is tested
# first and must pass; a mutant that does not build is reported as such, not
# as killed; the exit status says whether every mutant was killed. Every file
# is restored afterwards, also when the script is interrupted. The run's table
# replaces docs/MUTANTS.md, whose killers the next run tries first.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd -P)
mutants=${1:-$here/mutants.txt}
build=${2:-$root/build-mutants}
# The last run's table: which test killed each mutant, tried first next time.
report="$root/docs/MUTANTS.md"

backup=$(mktemp -d)
restore() {
    if [[ -f "$backup/path" ]]; then
        cp "$backup/original" "$root/$(cat "$backup/path")"
        rm -f "$backup/path"
    fi
}
trap 'restore; rm -rf "$backup"' EXIT
trap 'exit 130' INT TERM

# Prints "name<TAB>path" for each mutant and writes its from/to texts into
# $backup/<n>.from and $backup/<n>.to.
python3 - "$mutants" "$backup" >"$backup/list" <<'PY'
import sys
blocks = [b for b in open(sys.argv[1]).read().split("\n@ ") if b.strip()]
for n, block in enumerate(blocks):
    lines = block.lstrip("@ ").split("\n")
    name, path = lines[0].strip(), lines[1].strip()
    olds = [l[2:] for l in lines if l.startswith("- ")]
    news = [l[2:] for l in lines if l.startswith("+ ")]
    # A fault is one line: a second line would be dropped unread, and a fault
    # that changes nothing would only ever survive.
    if len(olds) != 1 or len(news) > 1 or olds == news:
        sys.exit(f"mutant '{name}': one '- ' line and one different '+ ' line (or none) are needed")
    old, new = olds[0], (news or [""])[0]
    open(f"{sys.argv[2]}/{n}.from", "w").write(old)
    open(f"{sys.argv[2]}/{n}.to", "w").write(new)
    print(f"{name}\t{path}")
PY

# The test command's plain build: its real-host tests load the module as it
# ships. The package is built once and, with each mutant, rebuilt and packed
# again without compression (the tests only unpack it).
package_build="$build/package"
"$here/linux-package.sh" "$package_build" >/dev/null
package="$build/package.tar"
repack() {
    cmake --build "$package_build" &&
        rm -rf "$package_build/stage" &&
        cmake --install "$package_build" --prefix "$package_build/stage" &&
        tar -cf "$package" -C "$package_build/stage" obs-veilcam
}
repack >/dev/null
"$here/build.sh" "$build" -DVEILCAM_TEST_PACKAGE="$package" >/dev/null

# The suite as the test command's plain stage runs it; ctest's options after
# the log narrow it.
run_suite() { # log [ctest option]...
    local log=$1
    shift
    "$here/in-sysroot.sh" xvfb-run -a -s "-screen 0 1280x720x24" \
        ctest --test-dir "$build" -j "$(nproc)" --timeout 600 --stop-on-failure "$@" >"$log" 2>&1
}
# Tests that killed mutants before are tried first, alone: the one that
# killed this mutant in the last run, or else those that killed others in its
# file (then or in this run). Most mutants fail them within seconds; the
# others need the rest of the suite.
declare -A killer=() file_killers=()
note_kill() { # name path test
    killer[$1]=$3
    [[ " ${file_killers[$2]:-} " == *" $3 "* ]] || file_killers[$2]+=" $3"
}
if [[ -f "$report" ]]; then
    while IFS=$'\t' read -r name path test; do
        note_kill "$name" "$path" "$test"
    done < <(sed -n 's/^| \(.*\) | \([^|]*\) | killed by \(.*\) |$/\1\t\2\t\3/p' "$report")
fi
likely_killers() { # name path: a ctest regular expression, empty if none
    local pattern="" test
    for test in ${killer[$1]:-${file_killers[$2]:-}}; do
        pattern+="${pattern:+|}^${test//./\\.}\$"
    done
    echo "$pattern"
}
verdict() { # log of a failed run: "killed by" its first failed test
    local test
    test=$(sed -n '/tests FAILED:/{n;p;q}' "$1" | sed -E 's/^[[:space:]]*[0-9]+ - //; s/ \(.*//')
    echo "${test:+killed by }${test:-THE SUITE DID NOT RUN}"
}
# A suite that fails unmutated would kill every mutant.
baseline=$(mktemp)
if ! run_suite "$baseline"; then
    tail -n 30 "$baseline" >&2
    echo "mutants: the suite fails on the unmutated tree; fix that first" >&2
    exit 1
fi
rm -f "$baseline"
# Then the tests that took seconds in the unmutated run, and only then the
# slow end-to-end ones: ctest starts the longest first, so a fault that a
# quick test catches would otherwise wait for minutes of host runs.
slow=$(awk '$1 == "---" { exit } $3 >= 5 { gsub(/\./, "\\.", $1); printf "%s^%s$", (n++ ? "|" : ""), $1 }' \
    "$build/Testing/Temporary/CTestCostData.txt")

apply_mutant() { # n path
    python3 - "$root/$2" "$backup/$1.from" "$backup/$1.to" <<'PY'
import sys
path, old, new = sys.argv[1], open(sys.argv[2]).read(), open(sys.argv[3]).read()
text = open(path).read()
if text.count(old) != 1:
    sys.exit(f"{path}: the mutant's text occurs {text.count(old)} times")
open(path, "w").write(text.replace(old, new))
PY
}

revision=$(git -C "$root" rev-parse --short HEAD)
[[ -z $(git -C "$root" status --porcelain --untracked-files=no -- . ':!docs/MUTANTS.md') ]] ||
    revision+=" with uncommitted changes"
{
    printf '# One-line faults and the tests that catch them\n\n'
    printf '`scripts/mutants.sh` on %s: each fault of `scripts/mutants.txt` applied\n' \
        "$revision"
    printf 'alone, the plain suite run against it.\n\n'
    printf '| mutant | file | result |\n|---|---|---|\n'
} >"$report"
killed=0 total=0 unbuilt=0 n=0
while IFS=$'\t' read -r name path; do
    cp "$root/$path" "$backup/original"
    echo "$path" >"$backup/path"
    if ! apply_mutant "$n" "$path"; then
        result="NOT APPLIED"
    elif ! { "$here/in-sysroot.sh" cmake --build "$build" --target veilcam_tests && repack; } >"$backup/build.log" 2>&1; then
        result="DOES NOT BUILD"
    else
        likely=$(likely_killers "$name" "$path")
        if [[ -n $likely ]] && ! run_suite "$backup/test.log" -R "$likely"; then
            result=$(verdict "$backup/test.log")
        elif ! run_suite "$backup/test.log" ${slow:+-E "$slow"}; then
            result=$(verdict "$backup/test.log")
        elif [[ -n $slow ]] && ! run_suite "$backup/test.log" -R "$slow"; then
            result=$(verdict "$backup/test.log")
        else
            result="SURVIVED"
        fi
        [[ $result != killed* ]] || note_kill "$name" "$path" "${result#killed by }"
    fi
    restore
    total=$((total + 1))
    [[ $result == killed* ]] && killed=$((killed + 1))
    [[ $result == "DOES NOT BUILD" ]] && unbuilt=$((unbuilt + 1))
    printf '| %s | %s | %s |\n' "$name" "$path" "$result" | tee -a "$report"
    n=$((n + 1))
done <"$backup/list"
{ "$here/in-sysroot.sh" cmake --build "$build" && repack; } >/dev/null
summary="mutants: $killed of $total killed, $unbuilt do not build"
printf '\n%s\n' "$summary" >>"$report"
echo "$summary (table in $report)"
((killed == total))
