#!/usr/bin/env bash
# Size budget of the shipped updater: the stripped tamsel-update.exe of a
# release build stays under 1.5 MB (1,500,000 bytes), carries no debug
# sections, and has its debug information beside it as tamsel-update.exe.debug,
# linked by name. Run by hand after a release build, never by CTest:
#   cmake --preset release -DTAMSEL_UPDATE_HOST=... -DTAMSEL_WORKING_KEY=... -DTAMSEL_RESERVE_KEY=...
#   cmake --build --preset release && bench/size_budget.sh build/release
# Prints the figures and ends non-zero when the budget is broken.
set -euo pipefail
build="${1:-build/release}"
exe="$build/tamsel-update.exe"
debug="$exe.debug"
budget=1500000
objdump="${OBJDUMP:-x86_64-w64-mingw32-objdump}"

[ -f "$exe" ] || { echo "no $exe: build the release preset first" >&2; exit 2; }
size=$(stat -c %s "$exe")
debug_size=$( [ -f "$debug" ] && stat -c %s "$debug" || echo 0)
sections=$("$objdump" -h "$exe")
debug_sections=$(grep -c ' \.debug_' <<<"$sections" || true)
has_link=$(grep -c ' \.gnu_debuglink' <<<"$sections" || true)

printf 'tamsel-update.exe        %9d bytes (budget %d, %d%% used)\n' "$size" "$budget" $((size * 100 / budget))
printf 'tamsel-update.exe.debug  %9d bytes\n' "$debug_size"
printf 'debug sections in exe    %9d\n' "$debug_sections"
printf 'debug link in exe        %9s\n' "$([ "$has_link" -gt 0 ] && echo yes || echo no)"

status=0
[ "$size" -lt "$budget" ] || { echo "over budget" >&2; status=1; }
[ "$debug_sections" -eq 0 ] || { echo "the exe is not stripped" >&2; status=1; }
[ "$debug_size" -gt 0 ] && [ "$has_link" -gt 0 ] || { echo "the debug information is missing or not linked" >&2; status=1; }
exit $status
