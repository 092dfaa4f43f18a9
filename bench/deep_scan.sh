#!/usr/bin/env bash
# The deep-scan benchmark: one 1 GiB card image densely packed with JPEG
# photos (FAT32, 4 KiB clusters, each photo on a cluster boundary with random
# bytes in its slack), carved side by side in one run by tranquo-cli's deep
# scan, tranquo-cli's and the wizard window's whole runs, foremost -t jpg and
# PhotoRec, with a plain cp of the image as the
# physical limit. Each run is timed with /usr/bin/time -v (wall clock and
# peak memory) after one warm-up read, so that all read from the page cache.
#
#   bench/deep_scan.sh [BUILD_DIR] [WORK_DIR] [SIZE_MIB]
#
# BUILD_DIR defaults to build (relative to the repository), WORK_DIR to
# /tmp/tranquo-deep-scan-bench (the image, the photos and the logs),
# SIZE_MIB to 1024. The tools write their output to OUT_DIR (environment;
# default /dev/shm/tranquo-deep-scan-bench when /dev/shm exists, so that the
# figures measure the tools and not the disk's write-back), one tool at a
# time, each output removed after it is verified.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$repo/build}") # absolute: the PhotoRec run changes folder
work=${2:-/tmp/tranquo-deep-scan-bench}
size_mib=${3:-1024}

"$repo/scripts/setup"
cmake -S "$repo" -B "$build" >/dev/null
cmake --build "$build" -j2 --target tranquo-cli typhex tranquo-regsvr make-deep-scan-card >/dev/null
# The wizard window's run (Qt builds only).
wizard_run=
if cmake --build "$build" --target help | grep -w tranquo-wizard-run >/dev/null; then
  cmake --build "$build" -j2 --target tranquo-wizard-run >/dev/null
  wizard_run=$build/bin/tranquo-wizard-run
fi
if cmake --build "$build" --target help | grep settings_database >/dev/null; then
  cmake --build "$build" --target settings_database >/dev/null
fi
bin=$build/bin

mkdir -p "$work"
image=$work/card.img
if [ ! -f "$image.manifest" ] || [ "$(stat -c %s "$image" 2>/dev/null || echo 0)" != $((size_mib * 1048576)) ]; then
  rm -f "$image" "$image.manifest"
  truncate -s "${size_mib}M" "$image"
  mkfs.fat -F 32 -s 8 -n BENCHCARD "$image" >/dev/null 2>&1
  # First data byte: (reserved + FATs x sectors per FAT) x bytes per sector.
  bps=$(od -An -tu2 -j11 -N2 "$image" | tr -d ' ')
  reserved=$(od -An -tu2 -j14 -N2 "$image" | tr -d ' ')
  fats=$(od -An -tu1 -j16 -N1 "$image" | tr -d ' ')
  fatsize=$(od -An -tu4 -j36 -N4 "$image" | tr -d ' ')
  "$bin/make-deep-scan-card" "$image" $(((reserved + fats * fatsize) * bps)) "$work/photos"
fi
photos=$(wc -l <"$image.manifest")
image_bytes=$(stat -c %s "$image")

cat "$image" >/dev/null # warm-up: every tool reads from the page cache

# A private registry with the library registered beforehand, as an
# installation leaves it.
export TRANQUO_REGISTRY=$work/registry
"$bin/tranquo-regsvr" -s "$bin/libTyphex.so"
outroot=${OUT_DIR:-}
if [ -z "$outroot" ]; then
  if [ -d /dev/shm ]; then outroot=/dev/shm/tranquo-deep-scan-bench; else outroot=$work/out; fi
fi
mkdir -p "$outroot"
results=$work/results.txt
: >"$results"

run() { # name, output folder, command...
  local name=$1 out=$2
  shift 2
  rm -rf "$out"
  mkdir -p "$out"
  sync
  /usr/bin/time -v -o "$work/$name.time" "$@" >"$work/$name.log" 2>&1 || true
  local wall rss
  wall=$(awk -F': ' '/Elapsed \(wall clock\)/ {print $2}' "$work/$name.time")
  rss=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/$name.time")
  local seconds
  seconds=$(echo "$wall" | awk -F: '{ if (NF == 3) print $1*3600 + $2*60 + $3; else print $1*60 + $2 }')
  local complete="-"
  if [ "$name" != cp ]; then
    complete=$("$bin/make-deep-scan-card" verify "$image" "$out" | awk '{print $2}') || true
  fi
  rm -rf "$out"
  local mibs
  mibs=$(awk -v b="$image_bytes" -v s="$seconds" 'BEGIN { printf "%.0f", (s > 0 ? b / 1048576 / s : 0) }')
  printf '%-10s %8.2f s %7s MiB/s %8.1f MiB peak  %s of %s photos complete\n' \
    "$name" "$seconds" "$mibs" "$(awk -v k="$rss" 'BEGIN { print k / 1024 }')" "$complete" "$photos" | tee -a "$results"
}

run cp "$outroot/cp" cp "$image" "$outroot/cp/card.img"
run tranquo "$outroot/tranquo" "$bin/tranquo-cli" --attach "$image" -q recover --deep-only --yes \
  --dest "$outroot/tranquo/"
# The whole run (turbo scan, then deep scan) from the command line and from
# the wizard window (offscreen, scripted answers: Yes to the deep scan).
run cli-both "$outroot/cli-both" "$bin/tranquo-cli" --attach "$image" -q --yes recover --dest "$outroot/cli-both/"
if [ -n "$wizard_run" ]; then
  run wizard "$outroot/wizard" env QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work" "$wizard_run" --attach "$image" \
    --dest "$outroot/wizard/"
fi
run foremost "$outroot/foremost" foremost -Q -t jpg -i "$image" -o "$outroot/foremost"
cd "$work" && rm -f photorec.ses # PhotoRec keeps its session (and log) in the current folder
run photorec "$outroot/photorec" photorec /log /d "$outroot/photorec/recup" /cmd "$image" \
  partition_none,options,paranoid_no,keep_corrupted_file_no,fileopt,everything,disable,jpg,enable,wholespace,search

echo
echo "image: $image ($((image_bytes / 1048576)) MiB, $photos photos); logs in $work"
