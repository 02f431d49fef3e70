# Wall-time bookkeeping for the benchmark scripts: `one KEY command...`
# times a run under KEY, `stats KEY` gives the best and median.
TIMEFORMAT=%3R
declare -A walls
one() { # key command...
  local key=$1 t
  shift
  t=$( { time ("$@" >/dev/null 2>&1); } 2>&1 )
  walls[$key]="${walls[$key]:-} $t"
}
stats() { # key
  printf '%s\n' ${walls[$1]} | sort -n | awk '{w[NR]=$1} END {printf "best %.3f s, median %.3f s", w[1], w[int((NR+1)/2)]}'
}
