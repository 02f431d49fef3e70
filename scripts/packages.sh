#!/usr/bin/env bash
# scripts/packages.sh GROUP...: installs the packages of those groups in
# scripts/packages.txt that are not installed, saying which on one line.
# As root it runs apt-get, as another user sudo apt-get when sudo is here;
# otherwise, or when apt-get fails, it prints the command to run by hand
# and exits 1. Besides bash it runs only id, dpkg-query, apt-get, dpkg and
# sudo, so that a test can stand in for each on PATH.
set -uo pipefail

dir=.
[[ $0 == */* ]] && dir=${0%/*}
list=$dir/packages.txt
(( $# > 0 )) || { echo "usage: $0 GROUP... (the groups of $list)" >&2; exit 2; }

declare -A known=() asked=() seen=()
for g in "$@"; do asked[$g]=1; done
wanted=()
while read -r group package _; do
  [[ -z $group || $group == \#* ]] && continue
  known[$group]=1
  if [[ ${asked[$group]-} && ! ${seen[$package]-} ]]; then
    seen[$package]=1
    wanted+=("$package")
  fi
done <"$list"
for g in "$@"; do
  [[ ${known[$g]-} ]] || { echo "$0: no group '$g' in $list" >&2; exit 2; }
done

missing_now() {
  command -v dpkg-query >/dev/null || return 1
  declare -A present=()
  local name status
  while read -r name status; do
    # Waiting triggers leave the files in place.
    case $status in installed|triggers-awaited|triggers-pending) present[$name]=1 ;; esac
  done < <(dpkg-query -W -f='${Package} ${db:Status-Status}\n' "${wanted[@]}" 2>/dev/null)
  missing=()
  for p in "${wanted[@]}"; do [[ ${present[$p]-} ]] || missing+=("$p"); done
}

if ! missing_now; then
  echo "No dpkg-query, so not Debian: make sure these are installed: ${wanted[*]}" >&2
  exit 0
fi
(( ${#missing[@]} == 0 )) && exit 0

by_hand="apt-get install -y ${missing[*]}"
if [[ $(id -u) == 0 ]]; then
  run=()
  export DEBIAN_FRONTEND=noninteractive
elif command -v sudo >/dev/null; then
  # Without a terminal no one can type a password: fail rather than wait.
  if [[ -t 0 ]]; then run=(sudo); else run=(sudo -n); fi
else
  echo "Needs Debian packages that are not installed; run as root, then this again: $by_hand" >&2
  exit 1
fi

echo "Installing Debian packages${run:+ with sudo}: ${missing[*]}" >&2
log=
quietly() {
  local out status
  out=$("${run[@]}" "$@" </dev/null 2>&1)
  status=$?
  log+=$out$'\n'
  return $status
}
get() { quietly apt-get -y -o DPkg::Lock::Timeout=600 "$@"; }
if ! get install "${missing[@]}"; then
  # An install cut short earlier leaves dpkg to be told to finish first.
  [[ $log == *"dpkg --configure -a"* ]] && quietly dpkg --configure -a
  # A fresh machine has no package lists, an old one stale ones: update
  # only when the install cannot go ahead without it.
  get update && get install "${missing[@]}"
fi
asked_for=("${missing[@]}")
missing_now
if (( ${#missing[@]} > 0 )); then
  # The cause: a download that failed, else the last complaint.
  why=
  while IFS= read -r line; do
    if [[ $line == *"Failed to fetch"* ]]; then why=$line; break; fi
    [[ $line == E:* || $line == sudo:* ]] && why=$line
  done <<<"$log"
  if [[ -z $why ]]; then
    while IFS= read -r line; do [[ -n $line ]] && why=$line; done <<<"$log"
  fi
  echo "Could not install ${missing[*]} (${why:-apt-get said nothing}); run as root, then this again: apt-get update && apt-get install -y ${asked_for[*]}" >&2
  exit 1
fi
