#!/usr/bin/env bash
# Backup and restore of a 1 GiB card image with tranquo-cli, side by side
# with dd bs=1M doing the same copies, in one run. Prints seconds and peak
# memory for each, and the ratios to dd.
#
#   bench/device_tools.sh [BUILD_DIR] [SIZE_MIB]
#
# The page cache is warm for every run (each copy reads what the previous
# one wrote or read); nothing is dropped, so the figures compare the copy
# loops, not the disk.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-${TRANQUO_BUILD_DIR:-$root/build}}"
size_mib="${2:-1024}"
cli="$build/bin/tranquo-cli"
[ -x "$cli" ] || { echo "device_tools.sh: build tranquo-cli first ($cli)" >&2; exit 2; }
command -v mkfs.fat >/dev/null || { echo "device_tools.sh: mkfs.fat (dosfstools) is needed" >&2; exit 2; }

work="$(mktemp -d "${TMPDIR:-/tmp}/tranquo-bench-XXXXXX")"
trap 'rm -rf "$work"' EXIT
card="$work/card.img"
export TRANQUO_REGISTRY="$work/registry"

# A FAT32 card whose data area is full of bytes that do not compress.
mkfs.fat -C -F 32 "$card" $((size_mib * 1024)) >/dev/null
dd if=/dev/urandom of="$card" bs=1M seek=16 count=$((size_mib - 16)) conv=notrunc status=none

letter="$("$cli" --attach "$card" drives --removable | awk -v img="$card" '$0 ~ img {print substr($1,1,1); exit}')"
[ -n "$letter" ] || { echo "device_tools.sh: the card did not get a drive letter" >&2; exit 1; }

# Runs a command rounds times; keeps the fastest wall time and its peak memory.
rounds="${ROUNDS:-3}"
timed() { # label, command...
    local label="$1"; shift
    local best="" best_kib="" seconds kib
    for ((r = 1; r <= rounds; r++)); do
        rm -f "$work/dd.img" "$work/tranquo.img.new"
        if ! /usr/bin/time -o "$work/time" -f '%e %M' "$@" >/dev/null 2>"$work/stderr"; then
            echo "device_tools.sh: $label failed:" >&2; cat "$work/stderr" >&2; exit 1
        fi
        read -r seconds kib <"$work/time"
        if [ -z "$best" ] || awk -v a="$seconds" -v b="$best" 'BEGIN { exit !(a < b) }'; then
            best="$seconds"; best_kib="$kib"
        fi
    done
    printf '%-28s %7s s %9s KiB peak\n' "$label" "$best" "$best_kib"
    printf -v "t_${label//[^a-z]/_}" '%s' "$best"
}

echo "card: $size_mib MiB at $letter: ($card); best of $rounds runs each"
timed "dd backup" dd if="$card" of="$work/dd.img" bs=1M status=none
timed "tranquo backup" "$cli" -q --attach "$card" backup --drive "$letter" --to "$work/tranquo.img.new"
"$cli" -q --attach "$card" backup --drive "$letter" --to "$work/tranquo.img"
cmp "$card" "$work/tranquo.img" || { echo "device_tools.sh: the backup differs from the card" >&2; exit 1; }

# The restore flushes the card before it reports success (a card is pulled
# out right after), so dd is timed with conv=fsync too; without it dd only
# fills the page cache.
timed "dd restore" dd if="$work/tranquo.img" of="$card" bs=1M conv=notrunc status=none
timed "dd restore conv=fsync" dd if="$work/tranquo.img" of="$card" bs=1M conv=notrunc,fsync status=none
timed "tranquo restore" "$cli" -q --yes --attach "$card" restore --drive "$letter" --from "$work/tranquo.img"
cmp "$card" "$work/tranquo.img" || { echo "device_tools.sh: the restored card differs from the image" >&2; exit 1; }

awk -v a="$t_tranquo_backup" -v b="$t_dd_backup" -v c="$t_tranquo_restore" -v d="$t_dd_restore_conv_fsync" 'BEGIN {
    printf "backup  tranquo / dd:             %.2fx\nrestore tranquo / dd conv=fsync: %.2fx\n", (b > 0 ? a / b : 0), (d > 0 ? c / d : 0) }'
