# Sourced by the benchmark scripts.
# The median of the numbers on standard input, one a line.
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
# Runs a command with its output discarded; prints its wall time in
# microseconds.
wall_us() {
  local start end
  start=$(date +%s%N); "$@" > /dev/null; end=$(date +%s%N)
  echo $(( (end - start) / 1000 ))
}
# The same, and the CPU time (user and system, the command's and every
# process it waited for): "WALL CPU" in microseconds. On a machine shared
# with other work, CPU time moves far less from run to run than wall time.
wall_cpu_us() {
  local TIMEFORMAT='%R %U %S' report
  report=$( { time "$@" > /dev/null 2>&1; } 2>&1)
  awk '{printf "%d %d\n", $1 * 1e6, ($2 + $3) * 1e6}' <<< "$report"
}
