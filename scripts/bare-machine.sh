#!/usr/bin/env bash
# scripts/bare-machine.sh [--keep] [--package DEB] [WORKDIR]
# Runs the README's two commands where a newcomer meets them: in a fresh
# Debian 12 root holding only what such a machine starts with (a compiler,
# CMake, Ninja, Python 3, the GoogleTest sources), made with mmdebstrap from
# this machine's mirror, with a clone of this repository's committed HEAD.
# Each command runs twice, timed; the first must install what it needs and
# the second nothing. The sample run has no input, so its dialogue ends at
# the first question with exit status 255: that is how it shows it got
# there. Needs root; takes a while (the downloads, the whole test build).
# Then the Debian package the tests made goes on a second bare root, with
# no compiler or library: apt-get installs it, the unit's command line
# serves the sample and answers /health, and a purge leaves nothing; with
# --package DEB only that is done, with DEB.
# The roots go under WORKDIR (default /work/tmp-bare, or /tmp), and are
# removed at the end unless --keep is given; the logs stay beside them.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
keep= only_deb=
[ "${1:-}" = --keep ] && { keep=1; shift; }
if [ "${1:-}" = --package ]; then
  [ -f "${2:-}" ] || { echo "bare-machine: --package needs a .deb file" >&2; exit 2; }
  only_deb=$(realpath "$2")
  shift 2
fi
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
roots=()

cleanup() {
  local pid m r
  # Whatever the tests left running in there (a browser, say) holds the mounts.
  for pid in /proc/[0-9]*; do
    for r in "${roots[@]}"; do
      [ "$(readlink "$pid/root" 2>/dev/null)" = "$r" ] && kill -9 "${pid#/proc/}" 2>/dev/null
    done
  done
  for ((m = ${#mounted[@]} - 1; m >= 0; m--)); do
    umount "${mounted[m]}" 2>/dev/null || umount -l "${mounted[m]}" || true
  done
  for r in "${roots[@]}"; do
    if [ -n "$keep" ]; then
      echo "bare-machine: the root stays in $r"
    elif grep -q " $r/" /proc/self/mountinfo; then
      echo "bare-machine: something is still mounted under $r; not removing it" >&2
    else
      rm -rf --one-file-system "$r"
    fi
  done
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The Debian suites this machine takes its packages from, as one-line
# sources, and the apt settings it needs to reach them.
sources=()
while IFS= read -r line; do sources+=("$line"); done < <(
  cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
    awk '$1 == "deb" { sub(/ \[[^]]*\]/, ""); if ($3 ~ /^bookworm/) print }' ||
    true  # no one-line sources: the cat fails, and would end the list under set -e
  cat /etc/apt/sources.list.d/*.sources 2>/dev/null |
    awk 'function flush() { if (types ~ /(^| )deb( |$)/) { n = split(suites, s, " "); m = split(uris, u, " ");
                              for (i = 1; i <= n; i++) if (s[i] ~ /^bookworm/) for (j = 1; j <= m; j++)
                                print "deb " u[j] " " s[i] " " comps } types = uris = suites = comps = "" }
         /^[ \t]*#/ { next }
         /^[ \t]*$/ { flush(); next }
         { key = $1; sub(/^[^:]*:[ \t]*/, "") }
         key == "Types:" { types = $0 } key == "URIs:" { uris = $0 }
         key == "Suites:" { suites = $0 } key == "Components:" { comps = $0 }
         END { flush() }' || true)
# A machine's mirrors are its own configuration: none is assumed.
[ ${#sources[@]} -gt 0 ] ||
  { echo "bare-machine: this machine's apt configuration names no Debian 12 (bookworm) source" >&2; exit 1; }
aptopts=()
for opt in Acquire::Check-Valid-Until Acquire::Check-Date Acquire::http::Proxy Acquire::https::Proxy; do
  value=$(apt-config dump "$opt" | sed -n "s/^$opt \"\(.*\)\";$/\1/p")
  [ -n "$value" ] && aptopts+=(--aptopt="$opt \"$value\"")
done

elapsed() { awk -v from="$1" -v to="$EPOCHREALTIME" 'BEGIN { printf "%.1f", to - from }'; }

# make_root ROOT LOG [PACKAGE,...]: a minimal Debian 12 root with those
# packages, from this machine's sources, /proc, /sys and /dev mounted.
make_root() {
  local dir=$1 log=$2 include=${3:+--include=$3} start=$EPOCHREALTIME
  echo "bare-machine: making a Debian 12 root in $dir (log: $log)"
  roots+=("$dir")
  mmdebstrap --variant=minbase $include "${aptopts[@]}" bookworm "$dir" "${sources[@]}" >"$log" 2>&1 ||
    { tail -n 20 "$log"; echo "bare-machine: mmdebstrap failed" >&2; exit 1; }
  echo "bare-machine: made in $(elapsed "$start") s, $(chroot "$dir" dpkg-query -W | wc -l) packages;" \
    "package lists: $(find "$dir/var/lib/apt/lists" -name '*Packages*' | wc -l) files"
  cp /etc/resolv.conf "$dir/etc/resolv.conf"
  mount -t proc proc "$dir/proc" && mounted+=("$dir/proc")
  mount -t sysfs sysfs "$dir/sys" && mounted+=("$dir/sys")
  mount --bind /dev "$dir/dev" && mounted+=("$dir/dev")
  mount --bind /dev/pts "$dir/dev/pts" && mounted+=("$dir/dev/pts")
  mount -t tmpfs -o mode=1777,nosuid,nodev shm "$dir/dev/shm" && mounted+=("$dir/dev/shm")
}

failures=0
check() {  # check WHAT COMMAND...: one line of verdict on COMMAND's success
  local what=$1
  shift
  if "$@"; then echo "  ok: $what"; else echo "  FAILED: $what"; failures=$((failures + 1)); fi
  return 0
}

# The package on a root of its own, without a compiler or any library: it
# brings what it needs, serves as its unit would, and a purge leaves none
# of its files.
package_steps() {
  local deb=$1 proot=$work/root-deb-$stamp name
  name=$(basename "$deb")
  make_root "$proot" "$logs/mmdebstrap-deb.log"
  cp "$deb" "$proot/tmp/$name"
  in_deb_root() {  # in_deb_root LOG COMMAND: as root, nothing on standard input
    set +e
    chroot "$proot" /usr/bin/env -i HOME=/root LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive \
      PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
      /bin/bash -c "$2" </dev/null >"$logs/$1.out" 2>"$logs/$1.err"
    status=$?
    set -e
  }
  echo "== the package $name on a bare root"
  # mmdebstrap leaves no package lists.
  in_deb_root deb-install "apt-get update && apt-get install -y /tmp/$name"
  check "apt-get install (status $status, $(grep -c '^Unpacking' "$logs/deb-install.out") packages)" test "$status" = 0
  [ "$status" = 0 ] || { tail -n 5 "$logs/deb-install.err" | sed 's/^/  | /'; return; }
  in_deb_root deb-files "dpkg-query -L pdsi && pdsi --version"
  check "pdsi --version: $(tail -n 1 "$logs/deb-files.out")" grep -qx "pdsi $(dpkg-deb --field "$deb" Version)" "$logs/deb-files.out"
  local exec
  exec=$(sed -n 's/^ExecStart=//p' "$proot/usr/lib/systemd/system/pdsi.service")
  in_deb_root deb-nogrid "$exec"
  sed 's/^/  | /' "$logs/deb-nogrid.err"
  check "without the grid: exit status 2 (got $status), one line naming pdsi sample" \
    eval '[ "$status" = 2 ] && [ "$(wc -l <"$logs/deb-nogrid.err")" = 1 ] && grep -q "pdsi sample --out" "$logs/deb-nogrid.err"'
  # The unit's command line as its user would run it: the sample in place,
  # readable by all, then /health over bash's own TCP.
  in_deb_root deb-serve "pdsi sample --quiet --out /var/lib/pdsi/pdsisc1850-2010.txt || exit 1
    setpriv --reuid=65534 --regid=65534 --clear-groups $exec --quiet >/tmp/serve.out & pid=\$!
    for t in \$(seq 150); do grep -q listening /tmp/serve.out && break; sleep 0.2; done
    exec 3<>/dev/tcp/127.0.0.1/8080 && printf 'GET /health HTTP/1.0\\r\\n\\r\\n' >&3 && cat <&3
    kill -TERM \$pid; wait \$pid"
  check "the unit's command serves the sample: /health says ok, SIGTERM ends it with 0 (status $status)" \
    eval '[ "$status" = 0 ] && grep -qx "ok" <(tr -d "\r" <"$logs/deb-serve.out")'
  in_deb_root deb-purge "apt-get purge -y pdsi"
  check "apt-get purge (status $status)" test "$status" = 0
  local left=() f
  while IFS= read -r f; do
    [ -f "$proot$f" ] || [ -L "$proot$f" ] && left+=("$f")
  done < <(grep '^/' "$logs/deb-files.out")
  [ -e "$proot/var/lib/pdsi" ] && left+=(/var/lib/pdsi)
  check "nothing left of it${left:+: ${left[*]}}" test ${#left[@]} = 0
}

if [ -n "$only_deb" ]; then
  package_steps "$only_deb"
  echo "bare-machine: $failures failed; logs in $logs"
  [ "$failures" = 0 ]
  exit
fi

make_root "$root" "$logs/mmdebstrap.log" g++,cmake,ninja-build,python3,googletest,ca-certificates
git clone --quiet "$repo" "$root/srv/pdsi"
echo "bare-machine: cloned $(git -C "$root/srv/pdsi" log -1 --format='%h %s' | cut -c1-70)"

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

# The package the tests made (the DebianPackage test).
debs=("$root"/srv/pdsi/build/default/pdsi_*.deb)
if [ -f "${debs[0]}" ]; then
  package_steps "${debs[0]}"
else
  check "the tests made the package" false
fi

echo "== times"
printf '  %s\n' "${times[@]}"
echo "bare-machine: $failures failed; logs in $logs"
[ "$failures" = 0 ]
