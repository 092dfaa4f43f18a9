#!/usr/bin/env bash
# What the wizard window costs beside the command line: the whole recovery
# (turbo scan, then deep scan) of the deep-scan benchmark's 1 GiB photo card,
# by tranquo-cli and by the wizard window (tranquo-wizard-run: offscreen,
# the desktop pump, scripted answers), alternately, ROUNDS times (default 5),
# each into tmpfs and timed with /usr/bin/time. Wall clock and CPU time
# (user + system) per whole process, and for the window also the time from
# pressing Start to the closing question (without the start of Qt); the
# minimum of each is the figure least touched by other work on the machine.
#
#   bench/wizard_run.sh [BUILD_DIR] [WORK_DIR]
#
# WORK_DIR is that of bench/deep_scan.sh, which makes the card (run it first).
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$repo/build}
work=${2:-/tmp/tranquo-deep-scan-bench}
rounds=${ROUNDS:-5}
image=$work/card.img
[ -f "$image" ] || { echo "no $image: run bench/deep_scan.sh first" >&2; exit 1; }
cmake --build "$build" -j2 --target tranquo-cli tranquo-wizard-run typhex tranquo-regsvr make-deep-scan-card >/dev/null
bin=$build/bin
export TRANQUO_REGISTRY=$work/registry QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$work
"$bin/tranquo-regsvr" -s "$bin/libTyphex.so"
out=${OUT_DIR:-/dev/shm/tranquo-wizard-bench}
cat "$image" >/dev/null

time_run() { # name, command...
  local name=$1
  shift
  rm -rf "$out"
  mkdir -p "$out"
  /usr/bin/time -f "%e %U %S" -o "$work/$name.time" "$@" >"$work/$name.out" 2>/dev/null || true
  local complete run
  complete=$("$bin/make-deep-scan-card" verify "$image" "$out" 2>/dev/null | awk '{print $2}') || complete=-
  # The window's own figure: from pressing Start to the closing question.
  run=$(sed -n 's/^wizard run: \([0-9.]*\) s from Start.*/, \1 s from Start/p' "$work/$name.out")
  awk -v n="$name" -v c="$complete" -v r="$run" \
    '{ printf "%-7s %6.2f s wall %6.2f s cpu  %s photos complete%s\n", n, $1, $2 + $3, c, r }' "$work/$name.time"
}

for ((round = 1; round <= rounds; round++)); do
  time_run cli "$bin/tranquo-cli" --attach "$image" -q --yes recover --dest "$out/"
  time_run wizard "$bin/tranquo-wizard-run" --attach "$image" --dest "$out/"
done | tee "$work/wizard_run.txt"
rm -rf "$out"
awk '!($1 in wall) || $2 < wall[$1] { wall[$1] = $2 }
     !($1 in cpu) || $5 < cpu[$1] { cpu[$1] = $5 }
     END { printf "minimum: cli %.2f s wall %.2f s cpu, wizard %.2f s wall %.2f s cpu: %.2fx wall, %.2fx cpu\n",
           wall["cli"], cpu["cli"], wall["wizard"], cpu["wizard"], wall["wizard"] / wall["cli"], cpu["wizard"] / cpu["cli"] }' \
  "$work/wizard_run.txt"
# Stop's latency in the deep scan: pressed 0.3 s after Start.
rm -rf "$out"
"$bin/tranquo-wizard-run" --attach "$image" --dest "$out/" --stop-after 0.3 2>/dev/null | grep Stop
rm -rf "$out"
