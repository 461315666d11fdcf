#!/usr/bin/env bash
# The fleet simulator at size, in an optimised build of its own (no
# sanitizers): bash bench/fleet.sh [MACHINES] [DAYS]  (10000 and 90 by default).
# Runs bench/fleet/default.toml (SCENARIO=... for another), prints the table,
# writes the CSV and the chart under build/fleet/, and ends with the line
#   fleet: M machines, D days: invariant breaks N, stuck N, wrongly failed N
# The chart needs Debian's python3-matplotlib (PYTHON=... for another interpreter).
# Replay one machine with its trace: build/fleet/tamsel-fleet SCENARIO --machine N
set -euo pipefail
machines=${1:-10000}
days=${2:-90}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${FLEET_BUILD:-$root/build/fleet}
scenario=${SCENARIO:-$root/bench/fleet/default.toml}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAMSEL_SANITIZE=OFF >/dev/null
cmake --build "$build" --target tamsel-fleet -j 2 >/dev/null
status=0
"$build/tamsel-fleet" "$scenario" --machines "$machines" --days "$days" --csv "$build/fleet.csv" \
  >"$build/fleet.txt" || status=$?
if [ "$status" -ge 2 ]; then exit "$status"; fi
"${PYTHON:-/usr/bin/python3}" "$root/bench/fleet/chart.py" "$build/fleet.csv" "$build/fleet.png" \
  "Simulated fleet: $machines machines, $days days" >&2
head -n -1 "$build/fleet.txt"
echo "chart: $build/fleet.png, data: $build/fleet.csv"
tail -n 1 "$build/fleet.txt"
exit "$status"
