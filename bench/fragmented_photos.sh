#!/usr/bin/env bash
# Photos in pieces: a 64 MiB FAT16 card (4 KiB clusters) filled with files
# of noise by mtools, every second one deleted, 12 photos of about 700 KB
# (ffmpeg) written into the gaps so that each lies in two or three pieces,
# then deleted; the same card quick-formatted. Each is deep-scanned by
# tranquo-cli (and by BEFORE_BIN's tranquo-cli, a build without the repair,
# when given); prints the time and how many photos came back byte-exact.
#
#   bench/fragmented_photos.sh [BUILD_DIR] [WORK_DIR]
#   BEFORE_BIN=/path/to/other/bin bench/fragmented_photos.sh
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$repo/build}")
work=${2:-/tmp/tranquo-fragmented-photos}
"$repo/scripts/setup"
cmake --build "$build" -j2 --target tranquo-cli typhex tranquo-regsvr settings_database >/dev/null
export MTOOLS_SKIP_CHECK=1

rm -rf "$work"
mkdir -p "$work/local"
card=$work/card.img
truncate -s 64M "$card"
mkfs.fat -F 16 -s 8 -n CARD "$card" >/dev/null
i=0
while :; do
  head -c $((400000 + (i % 3) * 100000)) /dev/urandom >"$work/local/f$i.bin"
  mcopy -i "$card" "$work/local/f$i.bin" "::/FILL$i.BIN" 2>/dev/null || break
  i=$((i + 1))
done
for ((j = 1; j < i; j += 2)); do mdel -i "$card" "::/FILL$j.BIN"; done
for k in $(seq 1 12); do
  ffmpeg -nostdin -loglevel error -y -f lavfi -i "mandelbrot=size=1600x1200:start_scale=$((k + 1))" \
    -vf noise=alls=$((4 + k % 3)) -frames:v 1 -q:v 2 "$work/local/p$k.jpg"
  mcopy -i "$card" "$work/local/p$k.jpg" "::/P$k.JPG"
done
cp "$card" "$work/formatted.img"
for k in $(seq 1 12); do mdel -i "$card" "::/P$k.JPG"; done
mkfs.fat -F 16 -s 8 -n CARD "$work/formatted.img" >/dev/null
echo "photos: $(stat -c %s "$work"/local/p*.jpg | awk '{s += $1} END {printf "12, %.0f KB on average", s / 12 / 1000}')"

scan() { # label, bin, image
  local out=$work/out-$1
  rm -rf "$out"
  export TRANQUO_REGISTRY=$work/registry-$1
  "$2/tranquo-regsvr" -s "$2/libTyphex.so" >/dev/null
  /usr/bin/time -o "$work/time.txt" -f "%e s (user %U, sys %S)" "$2/tranquo-cli" --attach "$3" -q recover \
    --deep-only --yes --dest "$out/" >"$work/log.txt" 2>&1 || true
  local t
  t=$(tail -1 "$work/time.txt")
  local exact=0
  for k in $(seq 1 12); do
    for f in "$out"/My\ Recovered\ Mobile\ Device/Deep\ Scan/*; do
      if cmp -s "$f" "$work/local/p$k.jpg"; then exact=$((exact + 1)); break; fi
    done
  done
  local repaired
  repaired=$(grep -o '[0-9]* photos* put back together' "$work/log.txt" | awk '{print $1}' || true)
  printf '%-28s %-34s %2d of 12 photos byte-exact, %s put back together\n' "$1" "$t" "$exact" "${repaired:-0}"
}

for image in card formatted; do
  [ -n "${BEFORE_BIN:-}" ] && scan "$image (before)" "$BEFORE_BIN" "$work/$image.img"
  scan "$image" "$build/bin" "$work/$image.img"
done
