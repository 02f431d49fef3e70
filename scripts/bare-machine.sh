#!/usr/bin/env bash
# scripts/bare-machine.sh [--keep] [WORKDIR]
# Runs the README's two commands where a newcomer meets them: in a fresh
# Debian 12 root holding only what such a machine starts with (a compiler,
# CMake, Ninja, Python 3, the GoogleTest sources), made with mmdebstrap from
# this machine's mirror, with a clone of this repository's committed HEAD.
# Each command runs twice, timed; the first must install what it needs and
# the second nothing. The sample run has no input, so its dialogue ends at
# the first question with exit status 255: that is how it shows it got
# there. Needs root; takes a while (the downloads, the whole test build).
# The root goes under WORKDIR (default /work/tmp-bare, or /tmp), and is
# removed at the end unless --keep is given; the logs stay beside it.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
keep=
[ "${1:-}" = --keep ] && { keep=1; shift; }
if [ $# -gt 0 ]; then work=$1
elif [ -d /work ]; then work=/work/tmp-bare
else work=/tmp/tmp-bare
fi
[ "$(id -u)" = 0 ] || { echo "bare-machine: needs root (mmdebstrap, mount, chroot)" >&2; exit 1; }

"$repo/scripts/packages.sh" bare-machine
mkdir -p "$work"
stamp=$(date +%Y%m%d-%H%M%S)
root=$work/root-$stamp
logs=$work/logs-$stamp
mkdir -p "$logs"
mounted=()

cleanup() {
  local pid m
  # Whatever the tests left running in there (a browser, say) holds the mounts.
  for pid in /proc/[0-9]*; do
    [ "$(readlink "$pid/root" 2>/dev/null)" = "$root" ] && kill -9 "${pid#/proc/}" 2>/dev/null
  done
  for ((m = ${#mounted[@]} - 1; m >= 0; m--)); do
    umount "${mounted[m]}" 2>/dev/null || umount -l "${mounted[m]}" || true
  done
  if [ -n "$keep" ]; then
    echo "bare-machine: the root stays in $root"
  elif grep -q " $root/" /proc/self/mountinfo; then
    echo "bare-machine: something is still mounted under $root; not removing it" >&2
  else
    rm -rf --one-file-system "$root"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The Debian suites this machine takes its packages from, as one-line
# sources, and the apt settings it needs to reach them.
sources=()
while IFS= read -r line; do sources+=("$line"); done < <(
  cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
    awk '$1 == "deb" { sub(/ \[[^]]*\]/, ""); if ($3 ~ /^bookworm/) print }'
  cat /etc/apt/sources.list.d/*.sources 2>/dev/null |
    awk 'function flush() { if (types ~ /(^| )deb( |$)/) { n = split(suites, s, " "); m = split(uris, u, " ");
                              for (i = 1; i <= n; i++) if (s[i] ~ /^bookworm/) for (j = 1; j <= m; j++)
                                print "deb " u[j] " " s[i] " " comps } types = uris = suites = comps = "" }
         /^[ \t]*#/ { next }
         /^[ \t]*$/ { flush(); next }
         { key = $1; sub(/^[^:]*:[ \t]*/, "") }
         key == "Types:" { types = $0 } key == "URIs:" { uris = $0 }
         key == "Suites:" { suites = $0 } key == "Components:" { comps = $0 }
         END { flush() }')
[ ${#sources[@]} -gt 0 ] || sources=("deb http://deb.debian.org/debian bookworm main")
aptopts=()
for opt in Acquire::Check-Valid-Until Acquire::Check-Date Acquire::http::Proxy Acquire::https::Proxy; do
  value=$(apt-config dump "$opt" | sed -n "s/^$opt \"\(.*\)\";$/\1/p")
  [ -n "$value" ] && aptopts+=(--aptopt="$opt \"$value\"")
done

elapsed() { awk -v from="$1" -v to="$EPOCHREALTIME" 'BEGIN { printf "%.1f", to - from }'; }

echo "bare-machine: making a Debian 12 root in $root (log: $logs/mmdebstrap.log)"
start=$EPOCHREALTIME
mmdebstrap --variant=minbase --include=g++,cmake,ninja-build,python3,googletest,ca-certificates \
  "${aptopts[@]}" bookworm "$root" "${sources[@]}" >"$logs/mmdebstrap.log" 2>&1 ||
  { tail -n 20 "$logs/mmdebstrap.log"; echo "bare-machine: mmdebstrap failed" >&2; exit 1; }
echo "bare-machine: made in $(elapsed "$start") s, $(chroot "$root" dpkg-query -W | wc -l) packages;" \
  "package lists: $(find "$root/var/lib/apt/lists" -name '*Packages*' | wc -l) files"
cp /etc/resolv.conf "$root/etc/resolv.conf"
git clone --quiet "$repo" "$root/srv/pdsi"
echo "bare-machine: cloned $(git -C "$root/srv/pdsi" log -1 --format='%h %s' | cut -c1-70)"

mount -t proc proc "$root/proc" && mounted+=("$root/proc")
mount -t sysfs sysfs "$root/sys" && mounted+=("$root/sys")
mount --bind /dev "$root/dev" && mounted+=("$root/dev")
mount --bind /dev/pts "$root/dev/pts" && mounted+=("$root/dev/pts")
mount -t tmpfs -o mode=1777,nosuid,nodev shm "$root/dev/shm" && mounted+=("$root/dev/shm")

# in_root USER HOME LOG COMMAND: runs COMMAND in the clone as USER, with a
# login's environment and nothing on standard input; sets status and seconds.
in_root() {
  local user=$1 home=$2 log=$3 start
  shift 3
  start=$EPOCHREALTIME
  set +e
  chroot --userspec="$user" "$root" /usr/bin/env -i HOME="$home" LANG=C.UTF-8 \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    /bin/bash -c "cd /srv/pdsi && $*" </dev/null >"$log.out" 2>"$log.err"
  status=$?
  set -e
  seconds=$(elapsed "$start")
}

failures=0
check() {  # check WHAT COMMAND...: one line of verdict on COMMAND's success
  local what=$1
  shift
  if "$@"; then echo "  ok: $what"; else echo "  FAILED: $what"; failures=$((failures + 1)); fi
  return 0
}
ends_at_input_end() {
  [ "$status" = 255 ] &&
    [ "$(tail -n 1 "$1.err")" = 'Error: Attempt to read past end of file (formatted read, console)' ]
}
told_how() { [ "$status" = 1 ] && [ "$(wc -l <"$1.err")" = 1 ] && grep -q 'apt-get install -y' "$1.err"; }
installed_nothing() { ! grep -q '^Installing' "$1.err"; }
installing() { grep -h '^Installing Debian packages' "$1.err" || echo "(installed nothing)"; }

echo "== a user without root or sudo: scripts/run-sample.sh"
in_root 65534:65534 /tmp "$logs/nobody" scripts/run-sample.sh
sed 's/^/  | /' "$logs/nobody.err"
check "exit status 1 (got $status), one line naming the command to run" told_how "$logs/nobody"
check "built nothing" test ! -e "$root/srv/pdsi/build"

times=()
for run in 1 2; do
  echo "== scripts/run-sample.sh </dev/null, run $run"
  in_root 0:0 /root "$logs/sample-$run" scripts/run-sample.sh
  times+=("run-sample.sh run $run: $seconds s")
  echo "  $(installing "$logs/sample-$run")"
  echo "  standard output ends:"; tail -n 4 "$logs/sample-$run.out" | sed 's/^/  | /'
  echo "  standard error ends:"; tail -n 3 "$logs/sample-$run.err" | sed 's/^/  | /'
  check "exit status 255 (got $status) at the end of input, in $seconds s" ends_at_input_end "$logs/sample-$run"
  [ $run = 1 ] || check "installed nothing" installed_nothing "$logs/sample-$run"
done

for run in 1 2; do
  echo "== scripts/test.sh, run $run"
  in_root 0:0 /root "$logs/test-$run" scripts/test.sh
  times+=("test.sh run $run: $seconds s")
  echo "  $(installing "$logs/test-$run")"
  grep -E 'tests passed|tests failed|Total Test time' "$logs/test-$run.out" | sed 's/^/  | /' || true
  sed -n '/The following tests/,$p' "$logs/test-$run.out" | sed 's/^/  | /'
  [ "$status" = 0 ] || tail -n 5 "$logs/test-$run.err" | sed 's/^/  | /'
  check "exit status 0 (got $status) in $seconds s" test "$status" = 0
  [ $run = 1 ] || check "installed nothing" installed_nothing "$logs/test-$run"
done

echo "== times"
printf '  %s\n' "${times[@]}"
echo "bare-machine: $failures failed; logs in $logs"
[ "$failures" = 0 ]
