#!/usr/bin/env bash
# Mutation run over the comparisons and limits that decide results: one
# mutant per site, each built and tested in a copy of the tree, so the tree
# this runs from is never touched. By hand, not in CI: it takes hours.
#
#   scripts/mutants.sh [--files a,b,...] [--sites id,...] [--operators f,...] [--list] [--full]
#                      [--every-test] [--build DIR]
#
# --files  paths or prefixes (qc/, numeric/htdql.cpp); default: every file below
# --sites  site ids or their prefixes (qc/outlier_screen.cpp:141)
# --operators  families to make (swap,remove,guard,cond,const,return,math;
#          default all; docs/mutation-runs.md shows each)
# --list   print the sites and stop; with neither --files nor --sites, also
#          the equivalents list's lines that meet no site (status 4)
# --full   every mutant also meets the whole suite, not only the test
#          programs of its folder and of those above it
# --every-test  each program runs all its tests; by default a mutant meets
#          only the tests that ran its line in a coverage build (one that
#          ran in none is "uncovered", a survivor, and costs no build)
# Site ids are FILE:LINE:COL:FROM/TO or FILE:LINE:COL:NAME=LEN[=VALUE]. scripts/mutants-equivalent.txt lists
# mutants no input can tell apart, with the reason; they are skipped.
set -u
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
work="$root/build/mutants"
files_opt="" sites_opt="" operators_opt="" list_only=0 full=0 every_test=0
build_timeout=${MUTANT_BUILD_TIMEOUT:-600}
test_timeout=${MUTANT_TEST_TIMEOUT:-60}
while [ $# -gt 0 ]; do
    case "$1" in
        --files) files_opt=$2; shift 2 ;;
        --files=*) files_opt=${1#*=}; shift ;;
        --sites) sites_opt=$2; shift 2 ;;
        --sites=*) sites_opt=${1#*=}; shift ;;
        --operators) operators_opt=$2; shift 2 ;;
        --operators=*) operators_opt=${1#*=}; shift ;;
        --build) work=$2; shift 2 ;;
        --list) list_only=1; shift ;;
        --full) full=1; shift ;;
        --every-test) every_test=1; shift ;;
        -h|--help) sed -n '2,22p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "mutants.sh: unknown option $1" >&2; exit 2 ;;
    esac
done

default_files="qc numeric extract/box.cpp extract/screen.cpp textio/editors.cpp textio/plain_fields.h
               runfiles cli formats report indices maps zarr serve dap"
all_files=$(cd "$root" && for f in $default_files; do
    if [ -d "$f" ]; then ls "$f"/*.cpp "$f"/*.h; else echo "$f"; fi; done)
# In the order of --files, each file once.
files=""
if [ -z "$files_opt" ]; then files=$all_files; else
    for want in ${files_opt//,/ }; do
        for f in $all_files; do
            case " $files " in *" $f "*) continue ;; esac
            case "$f" in "$want"*) files="$files $f" ;; esac
        done
    done
fi
[ -n "$files" ] || { echo "mutants.sh: no file matches --files $files_opt" >&2; exit 2; }

src="$work/src" bld="$work/build" log="$work/log"
# Listing reads the tree itself: the copy may hold a running mutant.
[ "$list_only" = 1 ] && src=$root

equiv="$root/scripts/mutants-equivalent.txt"
# The list's entries whose reason starts "sanitize only" are no equivalents:
# their only effect is an access past a buffer, so they are built with the
# sanitizers, which see it.
listed() { [ -f "$equiv" ] && awk -v id="$1" -v want="$2" '
    $1 == id { s = (index($0, " sanitize only") == length($1) + 1); if (s == want) found = 1 }
    END { exit !found }' "$equiv"; }
is_equivalent() { listed "$1" 0; }
needs_sanitizers() { listed "$1" 1; }

# The sites of the chosen files in $src, narrowed by --sites.
choose_sites() {
    sites=$(python3 "$here/mutants.py" sites ${operators_opt:+--operators=$operators_opt} "$src" $files) || exit 2
    if [ -n "$sites_opt" ]; then
        chosen=""
        for s in $sites; do
            for want in ${sites_opt//,/ }; do
                case "$s" in "$want"*) chosen="$chosen $s"; break ;; esac
            done
        done
        sites=$chosen
    fi
}
if [ "$list_only" = 1 ]; then
    choose_sites
    echo "$sites" | python3 "$here/mutants.py" lines "$src"
    # A whole listing also names the list's lines that no longer meet a
    # site (the code moved under them): they would skip nothing.
    if [ -z "$files_opt$sites_opt$operators_opt" ] && [ -f "$equiv" ]; then
        echo "$sites" | tr ' ' '\n' | awk 'NR == FNR { if ($1 != "") site[$1] = 1; next }
            $1 !~ /^#/ && NF && !($1 in site) { print "mutants.sh: no such site, listed in " FILENAME ": " $1 > "/dev/stderr"; bad = 1 }
            END { exit bad ? 4 : 0 }' - "$equiv" || exit 4
    fi
    exit 0
fi

# One run at a time in a build folder: a second would overwrite the first's
# mutant with the tree's text.
mkdir -p "$work"
exec 9>"$work/lock"
flock -n 9 || { echo "mutants.sh: another run uses $work (--build gives another folder)" >&2; exit 2; }
mkdir -p "$src" "$bld" "$log"
python3 "$here/mutants.py" sync "$root" "$src"
choose_sites  # from the copy just made, so the ids are those of the tree

# Whatever ends the run, the mutated file in the copy gets its own text back.
current=""
child=""
restore() {
    if [ -n "$child" ]; then kill -- -"$child" 2>/dev/null; wait "$child" 2>/dev/null; child=""; fi
    if [ -n "$current" ]; then cp "$work/unmutated" "$src/${current%%:*}"; current=""; fi
}
trap 'restore; exit 130' INT TERM
trap restore EXIT

# Runs a command in its own process group, so a time-out or Ctrl-C takes
# every process it started.
run() {
    local limit=$1; shift
    setsid timeout --kill-after=10 "$limit" "$@" &
    child=$!
    wait "$child"
    local rc=$?
    child=""
    return $rc
}

cur=""  # the build folder of the mutant under test
launcher=$(command -v ccache >/dev/null && echo -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root}  # the copies share the cache
build() { run "$build_timeout" nice -n 10 cmake --build "$cur" -j 2 "${@:2}" >>"$1" 2>&1; }

# The test programs that can see a mutant of a folder: its own first, then
# those of the folders built on it whose tests lean on its code (every
# program that runs pdsi runs all of it; the end-to-end and OPeNDAP ones,
# slow, only check again what cli_tests and serve_tests see: --full adds them).
# The folders below everything else (qc/, numeric/, ...) are not listed:
# theirs is their own program, then the whole suite.
programs_of() {
    case "$1" in
        runfiles) echo runfiles formats report serve ;;
        formats) echo formats serve dap ;;
        report) echo report page serve ;;
        cli) echo cli formats report serve ;;
        serve) echo serve page dap maps zarr ;;
        dap) echo dap serve zarr ;;
        indices) echo indices cli formats page serve ;;
        maps) echo maps page serve ;;
        zarr) echo zarr serve ;;
        *) [ -d "$src/tests/$1" ] && echo "$1" ;;
    esac
}
whole_suite() { [ "$full" = 1 ] || case "$1" in runfiles|formats|report|cli|indices|maps|zarr|serve|dap) false ;; esac; }

# Each program fails fast, so most mutants cost one link and a few tests;
# PDSI_TEST_THREADS=1 as the suite runs them, so the runs pass --threads;
# the whole suite after them when whole_suite says so. Returns 200 when a
# program does not build.
check() {
    local area=${1%%/*} out=$2 blog=$3 rc p filters="" filter
    [ "$every_test" = 1 ] || filters=$(covering "$1")
    for p in $(programs_of "$area"); do
        filter=*
        if [ -n "$filters" ]; then
            filter=${filters%%$'\n'*}
            filters=${filters#*$'\n'}
        fi
        [ "$filter" = - ] && continue
        build "$blog" --target "${p}_tests" || return 200
        run "$test_timeout" env -C "$cur/tests" PDSI_TEST_THREADS=1 nice -n 10 "./${p}_tests" --gtest_filter="$filter" --gtest_fail_fast --gtest_brief=1 >>"$out" 2>&1
        rc=$?
        [ $rc -eq 0 ] || return $rc
    done
    whole_suite "$area" || return 0
    build "$blog" || return 200
    run "$test_timeout" nice -n 10 ctest --test-dir "$cur" -j 2 --stop-on-failure --timeout "$test_timeout" >>"$out" 2>&1
}

# A build folder configured, built and passing, without a mutant, the tests
# the chosen sites will meet.
prepare() { # folder name cmake-options...
    local dir=$1 name=$2 areas="" whole=0 f p
    shift 2
    cur=$dir
    if [ ! -f "$dir/build.ninja" ]; then
        nice -n 10 cmake -S "$src" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release $launcher "$@" >"$log/configure-$name.txt" 2>&1 ||
            { echo "mutants.sh: configure failed, see $log/configure-$name.txt" >&2; exit 1; }
    fi
    for f in $sites; do
        f=${f%%/*}
        whole_suite "$f" && whole=1
        for p in $(programs_of "$f"); do case " $areas " in *" $p "*) ;; *) areas="$areas $p" ;; esac; done
    done
    echo "baseline build and tests ($name)..."
    local blog="$log/baseline-build-$name.txt" tlog="$log/baseline-test-$name.txt"
    : >"$blog"
    : >"$tlog"
    for p in $areas; do
        build "$blog" --target "${p}_tests" && run "$test_timeout" env -C "$dir/tests" PDSI_TEST_THREADS=1 "./${p}_tests" --gtest_brief=1 >>"$tlog" 2>&1 ||
            { echo "mutants.sh: ${p}_tests fails to build or pass without a mutant, see $blog and $tlog" >&2; exit 1; }
    done
    [ $whole = 1 ] || return 0
    build "$blog" ||
        { echo "mutants.sh: baseline build failed, see $blog" >&2; exit 1; }
    run "$test_timeout" ctest --test-dir "$dir" -j 2 >>"$tlog" 2>&1 ||
        { echo "mutants.sh: the tests fail without a mutant, see $tlog" >&2; exit 1; }
}
san="$work/build-sanitize" san_ready=0
prepare "$bld" default

# Which tests run each line, from a coverage build of its own (kept beside
# the build folders and shared by runs, one at a time): remade for a program
# when the code, the program's own tests or the test support have changed
# since its map was made.
cov="$(dirname "$work")/mutants-coverage"
covering() { python3 "$here/mutants.py" covering $(for p in $(programs_of "${1%%/*}"); do echo "$cov/map-$p.txt"; done) "$1"; }
make_coverage_maps() {
    local areas="" f p stamp
    for f in $sites; do
        whole_suite "${f%%/*}" && continue
        for p in $(programs_of "${f%%/*}"); do case " $areas " in *" $p "*) ;; *) areas="$areas $p" ;; esac; done
    done
    [ -n "$areas" ] || return 0
    mkdir -p "$cov/src"
    exec 8>"$cov/lock"
    flock 8
    python3 "$here/mutants.py" sync "$src" "$cov/src"  # the very text the mutants are made from
    for p in $areas; do
        stamp=$(python3 "$here/mutants.py" stamp "$cov/src" "$p")
        [ "$(cat "$cov/stamp-$p" 2>/dev/null)" = "$stamp" ] && continue
        echo "coverage of ${p}_tests..."
        if [ ! -f "$cov/build/build.ninja" ]; then
            nice -n 10 cmake -S "$cov/src" -B "$cov/build" -G Ninja -DCMAKE_BUILD_TYPE=Debug $launcher \
                "-DCMAKE_CXX_FLAGS=--coverage -fprofile-update=atomic" -DCMAKE_EXE_LINKER_FLAGS=--coverage \
                >"$log/configure-coverage.txt" 2>&1 || { echo "mutants.sh: coverage configure failed, see $log/configure-coverage.txt" >&2; exit 1; }
        fi
        run "$build_timeout" nice -n 10 cmake --build "$cov/build" -j 2 --target "${p}_tests" pdsi >"$log/build-coverage.txt" 2>&1 ||
            { echo "mutants.sh: coverage build failed, see $log/build-coverage.txt" >&2; exit 1; }
        nice -n 10 python3 "$here/mutants.py" covermap "$cov/build" "$cov/src" "$cov/build/tests/${p}_tests" \
            $((test_timeout * 3)) "$cov/map-$p.txt" || exit 1
        echo "$stamp" >"$cov/stamp-$p"
    done
    exec 8>&-
}
[ "$every_test" = 1 ] || make_coverage_maps

results="$work/results.txt"
: >"$results"
n=0 total=$(echo $sites | wc -w)
for s in $sites; do
    n=$((n + 1))
    if is_equivalent "$s"; then
        status=equivalent
    elif [ "$every_test" = 0 ] && ! whole_suite "${s%%/*}" && [ -z "$(covering "$s" | grep -v '^-$')" ]; then
        status=uncovered  # no test runs the line: a survivor without a build
    else
        if needs_sanitizers "$s"; then
            [ $san_ready = 1 ] || { prepare "$san" sanitize -DPDSI_SANITIZE=ON; san_ready=1; }
            cur=$san
        else
            cur=$bld
        fi
        # The copy's own text comes back afterwards, whatever the tree holds by then.
        cp "$src/${s%%:*}" "$work/unmutated"
        current=$s
        python3 "$here/mutants.py" apply "$src" "$s" || exit 1
        name=$(echo "$s" | tr '/:<>=!+ |&*{}' '_____________')
        : >"$log/$name.build.txt"
        check "$s" "$log/$name.test.txt" "$log/$name.build.txt"
        case $? in
            0) status=SURVIVED ;;
            124|137) status=timeout ;;
            200) status=nobuild ;;
            *) status=killed ;;
        esac
        restore
    fi
    line=$(python3 "$here/mutants.py" line "$src" "$s")
    printf '%-10s %-7s %s\t%s\n' "$status" "$(python3 "$here/mutants.py" family "$s")" "$s" "$line" | tee -a "$results"
    printf '[%d/%d]\n' "$n" "$total" >&2
done

echo
echo "per file, per folder and per folder and family: killed + timed out / (those + survived, uncovered among them); equivalent and unbuildable apart"
awk '{ split($3, p, ":"); f = p[1]; d = substr(f, 1, index(f, "/")); o = d " " $2
       c[f, $1]++; seen[f] = 1; c[d, $1]++; seen[d] = 1; c[o, $1]++; seen[o] = 1 }
     END { for (f in seen) {
             k = c[f, "killed"] + c[f, "timeout"]; s = c[f, "SURVIVED"] + c[f, "uncovered"]
             printf "%-28s %3d/%-3d %5.1f%%  survived %d (uncovered %d)  equivalent %d  nobuild %d\n", f, k, k + s,
                    k + s ? 100 * k / (k + s) : 100, s, c[f, "uncovered"], c[f, "equivalent"], c[f, "nobuild"] } }' "$results" | sort
grep -q '^SURVIVED\|^uncovered' "$results" && exit 3
exit 0
