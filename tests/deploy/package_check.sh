#!/usr/bin/env bash
# tests/deploy/package_check.sh BUILD VERSION: makes the Debian package
# from the build in BUILD and checks what it holds, what it depends on, its
# scripts, and lintian's verdict (no error; the warnings are printed).
set -euo pipefail
build=$1 version=$2
for tool in dpkg-deb dpkg-shlibdeps lintian; do
  command -v "$tool" >/dev/null ||
    { echo "package_check: $tool is missing: scripts/packages.sh build test installs it" >&2; exit 1; }
done
deb=$build/pdsi_${version}_$(dpkg --print-architecture).deb
rm -f "$deb"
cmake --build "$build" --target package >"$build/package.log" 2>&1 ||
  { tail -n 20 "$build/package.log"; echo "package_check: the package target failed" >&2; exit 1; }
[ -f "$deb" ] || { echo "package_check: no $deb" >&2; exit 1; }
echo "package: $(basename "$deb"), $(stat -c %s "$deb") bytes"

failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

# Every file and folder, with its mode and owner: "-rwxr-xr-x root/root ./usr/bin/pdsi".
listing=$(dpkg-deb --contents "$deb" | awk '{ print $1, $2, $6 }')
echo "contents:"; awk '$1 !~ /^d/ { print "  " $1, $3 }' <<<"$listing"
has() { grep -qxF -- "$1" <<<"$listing" || fail "not in the package as '$1'"; }
has "-rwxr-xr-x root/root ./usr/bin/pdsi"
has "-rwxr-xr-x root/root ./usr/bin/pdsiserver"
for page in pdsi pdsi-serve pdsiserver; do has "-rw-r--r-- root/root ./usr/share/man/man1/$page.1.gz"; done
for doc in README.md copyright changelog.gz docs/serve.md docs/pdsi.md deploy/README.md deploy/haproxy.cfg; do
  has "-rw-r--r-- root/root ./usr/share/doc/pdsi/$doc"
done
has "-rw-r--r-- root/root ./usr/lib/systemd/system/pdsi.service"
has "drwxr-xr-x root/root ./var/lib/pdsi/"
# Nothing else: no configuration, nothing under /usr/local, no other unit.
others=$(awk '{ print $3 }' <<<"$listing" | grep -vE '^\./(usr/(bin/pdsi(server)?|share/man/man1/pdsi(-serve|server)?\.1\.gz|share/doc/pdsi/.*|lib/systemd/system/pdsi\.service)|var/lib/pdsi/)$' |
  grep -vE '^\./((usr|usr/bin|usr/share|usr/share/man|usr/share/man/man1|usr/share/doc|usr/lib|usr/lib/systemd|usr/lib/systemd/system|var|var/lib)/)?$' || true)
[ -z "$others" ] || fail "unexpected in the package: $others"

# The binaries' libraries, as dpkg-shlibdeps found them.
depends=$(dpkg-deb --field "$deb" Depends)
echo "Depends: $depends"
for lib in libc6 libstdc++6 libmicrohttpd12 libnetcdf19 libgdal32 libdap27 libpng16-16 libblosc1 zlib1g; do
  grep -qE "(^|, )${lib//+/\\+}( |,|$)" <<<"$depends" || fail "Depends lacks $lib"
done

# The scripts tell systemd only: the unit is neither enabled nor started.
scripts=$(dpkg-deb --info "$deb" |
  awk '{ for (i = 1; i <= NF; i++) if ($i ~ /^(preinst|postinst|prerm|postrm|config|templates|triggers)$/) print $i }' |
  sort | xargs)
[ "$scripts" = "postinst postrm prerm" ] || fail "maintainer scripts: '$scripts'"
control=$(mktemp -d)
trap 'rm -rf "$control"' EXIT
dpkg-deb --control "$deb" "$control"
! grep -v '^\s*#' "$control"/postinst | grep -qE 'systemctl +enable|deb-systemd-helper +enable|(invoke|systemctl) +start' ||
  fail "postinst enables or starts the unit"
dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/lib/systemd/system/pdsi.service >"$control/unit"
grep -qE '^ExecStart=/usr/bin/pdsi serve --grid /var/lib/pdsi/pdsisc1850-2010.txt( |$)' "$control/unit" ||
  fail "the unit's ExecStart: $(grep '^ExecStart=' "$control/unit")"
grep -qx 'DynamicUser=yes' "$control/unit" || fail "the unit lost DynamicUser=yes"
dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/doc/pdsi/changelog.gz | gzip -dc | head -n 1 |
  grep -q "^pdsi ($version) " || fail "deploy/debian/changelog's first entry is not version $version"

# lintian: errors fail, warnings are named.
verdict=$(lintian --tag-display-limit 0 "$deb" 2>&1 | grep -v 'running with root privileges' || true)
[ -z "$verdict" ] || sed 's/^/lintian: /' <<<"$verdict"
grep -q '^E: ' <<<"$verdict" && fail "lintian reports errors"
echo "lintian: $(grep -c '^E: ' <<<"$verdict" || true) errors, $(grep -c '^W: ' <<<"$verdict" || true) warnings"
[ "$failures" = 0 ]
