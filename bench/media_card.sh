#!/usr/bin/env bash
# A quick-formatted 256 MiB FAT32 card of films, sounds and pictures made by
# ffmpeg (120 sets of 11 files: MP4, MOV, 3GP, AVI, MPEG, WAV, MP3, Ogg, JPG,
# PNG, GIF, each followed by 1.5 to 6 KiB of random bytes), deep-scanned by
# tranquo-cli and by PhotoRec; counts the files each gives back byte-exact.
# Usage: bench/media_card.sh [BUILD_DIR]
set -euo pipefail
build="$(cd "${1:-$(dirname "$0")/../build}" && pwd)"
work="${OUT_DIR:-/dev/shm}/tranquo-media-card"
rm -rf "$work" && mkdir -p "$work/media" "$work/sets" && cd "$work"
F="-f lavfi -i testsrc=duration=2:size=160x120:rate=25 -f lavfi -i sine=frequency=440:duration=2 -shortest"
T="-f lavfi -i sine=frequency=440:duration=2"
P="-f lavfi -i testsrc=size=160x120"
ff() { ffmpeg -nostdin -loglevel error -y "$@"; }
ff $F -c:v libx264 -c:a aac media/film.mp4
ff $F -c:v libx264 -c:a aac media/film.mov
ff $F -c:v h263 -s 176x144 -c:a aac -ar 8000 -ac 1 media/film.3gp
ff $F -c:v mpeg4 -c:a libmp3lame media/film.avi
ff $F -c:v mpeg2video -c:a mp2 -f vob media/film.mpg
ff $T -c:a pcm_s16le media/sound.wav
ff $T -c:a libmp3lame media/sound.mp3
ff $T -c:a libvorbis media/sound.ogg
ff $P -frames:v 1 media/pic.jpg
ff $P -frames:v 1 media/pic.png
ff $P -frames:v 3 media/pic.gif
for s in $(seq -w 1 120); do
  mkdir "sets/s$s"
  for f in media/*; do
    cp "$f" "sets/s$s/"
    head -c $(( (RANDOM % 4 + 1) * 1536 + 77 )) /dev/urandom > "sets/s$s/$(basename "$f").junk"
  done
done
mkfs.fat -F 32 -C card.img 262144 >/dev/null
mcopy -i card.img -s sets ::/
mkfs.fat -F 32 card.img >/dev/null
sha256sum media/* | awk '{print $1}' > want.txt
# Every file below a folder: the deep scan puts the files whose folders it
# found back into them.
exact() { find "$@" -type f -print0 | xargs -0 -r sha256sum | awk '{print $1}' | grep -c -F -f want.txt || true; }
for run in 1 2 3; do
  rm -rf ours pr && mkdir pr
  /usr/bin/time -f "tranquo  %e s elapsed, %U s user" env TRANQUO_REGISTRY="$work/registry" \
    "$build/bin/tranquo-cli" --attach card.img -q recover --deep-only --dest ours >/dev/null
  /usr/bin/time -f "PhotoRec %e s elapsed, %U s user" photorec /log /d pr/rec /cmd card.img wholespace,search >/dev/null
  rm -f photorec.ses
done
echo "tranquo:  $(exact "ours/My Recovered Mobile Device/Deep Scan") of $((120 * 11)) byte-exact"
echo "PhotoRec: $(exact pr/rec.*) of $((120 * 11)) byte-exact"
