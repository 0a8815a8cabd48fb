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
