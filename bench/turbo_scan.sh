#!/usr/bin/env bash
# The turbo-scan benchmark: a 2 GiB FAT32 card image (4 KiB clusters) with
# about 2,000 photo-sized files in four DCIM folders, made by mkfs.fat and
# mcopy, extracted side by side in one run by tranquo-cli's turbo scan, by
# mtools (mcopy -s) and by The Sleuth Kit (tsk_recover -a), with a plain cp
# of one file as large as all the photos together as the physical limit.
# Then the peak memory of a turbo scan of a 32 GiB card (4 KiB clusters,
# 8 million FAT entries). Each run is timed with /usr/bin/time -v after one
# warm-up read, so that every tool reads from the page cache; outputs go to
# /dev/shm when there is one.
#
#   bench/turbo_scan.sh [BUILD_DIR] [WORK_DIR] [PHOTOS]
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$repo/build}
work=${2:-/tmp/tranquo-turbo-scan-bench}
photos=${3:-2000}

"$repo/scripts/setup"
cmake -S "$repo" -B "$build" >/dev/null
cmake --build "$build" -j2 --target tranquo-cli typhex tranquo-regsvr >/dev/null
if cmake --build "$build" --target help | grep settings_database >/dev/null; then
  cmake --build "$build" --target settings_database >/dev/null
fi
bin=$build/bin
export PATH="$PATH:/usr/sbin:/sbin"
export MTOOLS_SKIP_CHECK=1
mkdir -p "$work"

# The card: photo-sized files of random bytes (600 KB to 1.4 MB), the same
# every time (seeded), written by mcopy folder by folder.
image=$work/card.img
if [ ! -f "$image.done" ] || [ "$(cat "$image.done")" != "$photos" ]; then
  rm -f "$image" "$image.done"
  truncate -s 2G "$image"
  mkfs.fat -F 32 -s 8 -n BENCHCARD "$image" >/dev/null
  mmd -i "$image" ::/DCIM
  src=$work/photos
  for folder in 100CANON 101CANON 102CANON 103CANON; do
    rm -rf "$src"
    mkdir -p "$src"
    python3 - "$src" "$folder" "$photos" <<'EOF'
import os, random, sys
src, folder, total = sys.argv[1], sys.argv[2], int(sys.argv[3])
index = int(folder[:3]) - 100
rng = random.Random(index)
for n in range(total // 4):
    size = rng.randint(600_000, 1_400_000)
    with open(os.path.join(src, "IMG_%04d.JPG" % (index * 2500 + n)), "wb") as out:
        out.write(rng.randbytes(size))
EOF
    mmd -i "$image" "::/DCIM/$folder"
    mcopy -i "$image" "$src"/* "::/DCIM/$folder/"
  done
  rm -rf "$src"
  echo "$photos" >"$image.done"
fi
total_bytes=$(python3 - "$image" <<'EOF'
import subprocess, sys
out = subprocess.run(["mdir", "-i", sys.argv[1], "-/", "::/DCIM"], capture_output=True, text=True).stdout
print(sum(int(l.split()[2]) for l in out.splitlines() if l.startswith("IMG_") and len(l.split()) > 2))
EOF
)
big=$work/all-photos.bin
if [ "$(stat -c %s "$big" 2>/dev/null || echo 0)" != "$total_bytes" ]; then
  head -c "$total_bytes" /dev/urandom >"$big"
fi

export TRANQUO_REGISTRY=$work/registry
"$bin/tranquo-regsvr" -s "$bin/libTyphex.so"
outroot=$work/out
if [ -d /dev/shm ]; then outroot=/dev/shm/tranquo-turbo-scan-bench; fi
mkdir -p "$outroot"
results=$work/results.txt
: >"$results"

# Each tool runs ROUNDS times (default 5); the best and the median wall
# clock are shown, since the shared machine's other work makes single runs
# noisy.
rounds=${ROUNDS:-5}
run() { # name, output folder, command...
  local name=$1 out=$2
  shift 2
  local times=() rss=0 files=0 r
  for ((r = 0; r < rounds; ++r)); do
    rm -rf "$out"
    mkdir -p "$out"
    sync
    /usr/bin/time -v -o "$work/$name.time" "$@" >"$work/$name.log" 2>&1 || true
    local wall seconds peak
    wall=$(awk -F': ' '/Elapsed \(wall clock\)/ {print $2}' "$work/$name.time")
    peak=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/$name.time")
    seconds=$(echo "$wall" | awk -F: '{ if (NF == 3) print $1*3600 + $2*60 + $3; else print $1*60 + $2 }')
    times+=("$seconds")
    ((peak > rss)) && rss=$peak
    files=$(find "$out" -type f | wc -l)
  done
  rm -rf "$out"
  local sorted best median
  sorted=$(printf '%s\n' "${times[@]}" | sort -n)
  best=$(echo "$sorted" | head -1)
  median=$(echo "$sorted" | sed -n "$(((rounds + 1) / 2))p")
  printf '%-12s best %6.2f s  median %6.2f s %8.1f MiB peak %6s files\n' "$name" "$best" "$median" \
    "$(awk -v k="$rss" 'BEGIN { print k / 1024 }')" "$files" | tee -a "$results"
}

cat "$image" "$big" >/dev/null # warm-up
run cp "$outroot/cp" cp "$big" "$outroot/cp/"
run tranquo "$outroot/tranquo" "$bin/tranquo-cli" --attach "$image" -q recover --turbo-only --dest "$outroot/tranquo/"
run mcopy "$outroot/mcopy" mcopy -s -n -i "$image" ::/DCIM "$outroot/mcopy/"
run tsk_recover "$outroot/tsk" tsk_recover -a -i raw "$image" "$outroot/tsk"

# Peak memory on a 32 GiB card with 4 KiB clusters.
large=$work/card-32g.img
if [ ! -f "$large.done" ]; then
  rm -f "$large"
  truncate -s 32G "$large"
  mkfs.fat -F 32 -s 8 -n LARGECARD "$large" >/dev/null
  mmd -i "$large" ::/DCIM
  head -c 3000000 /dev/urandom >"$work/one.jpg"
  for n in $(seq 1000 1099); do mcopy -i "$large" "$work/one.jpg" "::/DCIM/IMG_$n.JPG"; done
  touch "$large.done"
fi
run tranquo-32g "$outroot/large" "$bin/tranquo-cli" --attach "$large" -q recover --turbo-only --dest "$outroot/large/"

echo
echo "2 GiB image: $image ($photos photos, $total_bytes bytes); logs in $work"
