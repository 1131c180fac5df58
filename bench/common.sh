# Sourced by the benchmark scripts: Windows paths, wall-clock timing of Linux
# commands, medians, and the project's Wine environment.

# Z:\... path of a Unix path, for Windows programs.
win() { echo "Z:${1//\//\\}"; }

# Milliseconds since the epoch.
nowms() { echo $(($(date +%s%N) / 1000000)); }

# Median of the numbers given as arguments.
median() { printf '%s\n' "$@" | sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

# The value of key=value in a benchlaunch line.
field() { echo "$2" | tr ' ' '\n' | sed -n "s/^$1=//p" | tr -d '\r'; }

# a / b with two decimals.
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }

mib() { awk -v a="$1" 'BEGIN {printf "%.1f", a / 1048576}'; }
