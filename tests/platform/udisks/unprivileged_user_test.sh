#!/usr/bin/env bash
# A normal user's cards through udisks2: a private system bus with the
# stand-in service, card images only root may open, and tranquo-cli run as
# the user nobody. It lists the cards (never the system disk), recovers the
# photos, backs up, and restores and erases through "rw" opens; a refusal is
# one clear message with nothing written; a mounted card is never written;
# without the service the program lists and works as before.
#   unprivileged_user_test.sh TRANQUO_CLI MAKE_SAMPLE_CARD
set -euo pipefail
cli="$1"
make_card="$2"
here="$(cd "$(dirname "$0")" && pwd)"
skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAILED: $*" >&2; exit 1; }

[ "$(id -u)" = 0 ] || skip "needs root to run tranquo-cli as another user"
command -v dbus-daemon >/dev/null && command -v setpriv >/dev/null || skip "dbus-daemon or setpriv missing"
/usr/bin/python3 -c 'import dbus, gi' 2>/dev/null || skip "python3-dbus or python3-gi missing"

scratch="$(mktemp -d /tmp/tranquo-udisks-test.XXXXXX)"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$scratch"
}
trap cleanup EXIT
chmod 755 "$scratch"
mkdir -p "$scratch/home" "$scratch/cards"
chown 65534:65534 "$scratch/home"

"$make_card" "$scratch/cards/sdb.img" >/dev/null
truncate -s 4M "$scratch/cards/sdd.img"
chmod 600 "$scratch/cards/"*.img # not for the user: only udisks2 may open them
log="$scratch/opens.log"
touch "$log"

configure() { # EXTRA_JSON: refusal and old-service switches
  cat >"$scratch/udisks.json" <<EOF
{"devices": [
  {"name": "sda", "image": "$scratch/cards/sdd.img", "device": "$scratch/dev/sda", "system": true, "removable": false},
  {"name": "sdb", "image": "$scratch/cards/sdb.img", "device": "$scratch/dev/sdb"},
  {"name": "sdd", "image": "$scratch/cards/sdd.img", "device": "$scratch/dev/sdd",
   "partitions": [{"number": 1, "offset": 512, "size": 1048576, "mounted": true},
                  {"number": 2, "offset": 1049088, "size": 1048576}]},
  {"name": "sr0", "image": "$scratch/cards/sdd.img", "device": "$scratch/dev/sr0", "optical": true}]
 $1}
EOF
}
configure ""

cat >"$scratch/bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$scratch/system_bus_socket</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/><allow own="*"/><allow send_destination="*"/><allow receive_sender="*"/>
  </policy>
</busconfig>
EOF
dbus-daemon --config-file="$scratch/bus.conf" --nofork --nopidfile 2>"$scratch/bus.out" &
pids+=($!)
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$scratch/system_bus_socket"
for _ in $(seq 50); do [ -S "$scratch/system_bus_socket" ] && break; sleep 0.1; done
/usr/bin/python3 "$here/udisks_standin.py" "$scratch/udisks.json" "$log" >"$scratch/standin.out" 2>&1 &
standin=$!
pids+=($standin)
for _ in $(seq 100); do grep -q ready "$scratch/standin.out" && break; sleep 0.1; done
grep -q ready "$scratch/standin.out" || { cat "$scratch/standin.out"; fail "the stand-in service did not start"; }

# tranquo-cli as nobody, with a home and a settings store of its own.
as_user() {
  (cd "$scratch/home" && setpriv --reuid=65534 --regid=65534 --clear-groups \
    env HOME="$scratch/home" TRANQUO_REGISTRY="$scratch/home/registry" "$cli" "$@" </dev/null)
}
opens() { grep -c "$1" "$log" || true; }

# The list: the card, the partitions of the second card, the optical drive;
# never the system disk.
as_user drives >"$scratch/drives.out" 2>&1 || { cat "$scratch/drives.out"; fail "drives"; }
grep -Eq "^D: +Removable +32\.0 MiB .*$scratch/dev/sdb\$" "$scratch/drives.out" &&
  grep -Eq "^E: +Removable .*$scratch/dev/sdd1\$" "$scratch/drives.out" &&
  grep -Eq "^F: +Removable .*$scratch/dev/sdd2\$" "$scratch/drives.out" &&
  grep -Eq "^G: +CD-ROM .*$scratch/dev/sr0\$" "$scratch/drives.out" ||
  { cat "$scratch/drives.out"; fail "the drive list"; }
[ "$(grep -c '^[D-Z]:' "$scratch/drives.out")" = 4 ] || { cat "$scratch/drives.out"; fail "the system disk or a loop device was listed"; }

# Recover and back up: read-only opens.
as_user --yes recover --drive D --dest "$scratch/home/out" >"$scratch/recover.out" 2>&1 ||
  { cat "$scratch/recover.out"; fail "recover as a normal user"; }
[ "$(find "$scratch/home/out/My Recovered Mobile Device/Turbo Scan" -name '*.JPG' | wc -l)" -gt 0 ] ||
  { cat "$scratch/recover.out"; fail "nothing recovered by the Turbo Scan"; }
# The deep scan keeps no second copy of what the turbo scan saved whole.
grep -Eq 'Deep scan completed: ([1-9]|.* [1-9][0-9]* already saved by the turbo scan)' "$scratch/recover.out" ||
  { cat "$scratch/recover.out"; fail "nothing recovered by the Deep Scan"; }
as_user backup --drive D --to "$scratch/home/backup.img" >"$scratch/backup.out" 2>&1 ||
  { cat "$scratch/backup.out"; fail "backup as a normal user"; }
cmp -s "$scratch/home/backup.img" "$scratch/cards/sdb.img" || fail "the backup differs from the card"
[ "$(grep -v ' r 0$' "$log" | wc -l)" = 0 ] || { cat "$log"; fail "reading asked for more than 'r'"; }

# Restore and erase: "rw", exclusive (O_EXCL is 128).
: >"$log"
as_user --yes restore --drive D --from "$scratch/home/backup.img" >"$scratch/restore.out" 2>&1 ||
  { cat "$scratch/restore.out"; fail "restore as a normal user"; }
as_user --yes erase --drive D >"$scratch/erase.out" 2>&1 || { cat "$scratch/erase.out"; fail "erase as a normal user"; }
[ "$(opens '^sdb rw 128$')" -ge 2 ] || { cat "$log"; fail "restore and erase did not ask for exclusive rw"; }
! cmp -s "$scratch/home/backup.img" "$scratch/cards/sdb.img" || fail "the erase wrote nothing"

# A mounted partition is never written, and not even asked for.
if as_user --yes erase --drive E >"$scratch/mounted.out" 2>&1; then fail "a mounted card was erased"; fi
grep -q "E: is in use (its file system is mounted)" "$scratch/mounted.out" || { cat "$scratch/mounted.out"; fail "mounted"; }
[ "$(opens '^sdd1 rw')" = 0 ] || fail "rw was asked for a mounted card"

# The password prompt refused: one message, one question, nothing written.
cp "$scratch/home/backup.img" "$scratch/cards/sdb.img"
configure ', "refuse": ["sdb"]'
: >"$log"
if as_user --yes recover --drive D --dest "$scratch/home/refused" >"$scratch/refused.out" 2>&1; then
  fail "a refused recover succeeded"
fi
[ "$(cat "$scratch/refused.out")" = "tranquo-cli recover: access to $scratch/dev/sdb (drive D:) was refused (5: access denied); nothing was recovered" ] ||
  { cat "$scratch/refused.out"; fail "the refusal is not one clear message"; }
if as_user --yes erase --drive D >"$scratch/refused-erase.out" 2>&1; then fail "a refused erase succeeded"; fi
grep -q "access to $scratch/dev/sdb (drive D:) was refused (5: access denied); nothing was written" "$scratch/refused-erase.out" ||
  { cat "$scratch/refused-erase.out"; fail "erase refusal"; }
cmp -s "$scratch/home/backup.img" "$scratch/cards/sdb.img" || fail "a refused erase wrote"
[ "$(opens refused)" = 2 ] || { cat "$log"; fail "the user was asked more than once per run"; }

# An older udisks2 without OpenDevice: OpenForBackup.
configure ', "no_open_device": true'
: >"$log"
as_user backup --drive D --to "$scratch/home/old.img" >"$scratch/old.out" 2>&1 || { cat "$scratch/old.out"; fail "OpenForBackup"; }
[ "$(opens '^sdb backup')" -ge 1 ] || { cat "$log"; fail "OpenForBackup was not used"; }

# No service on the bus, then no bus: the kernel's list and direct opens, at once.
kill "$standin"
wait "$standin" 2>/dev/null || true
for address in "$DBUS_SYSTEM_BUS_ADDRESS" "unix:path=$scratch/no-such-socket"; do
  DBUS_SYSTEM_BUS_ADDRESS="$address" timeout 20 "$cli" drives >"$scratch/nobus.out" 2>&1 ||
    { cat "$scratch/nobus.out"; fail "drives without udisks2"; }
  ! grep -q "$scratch/dev" "$scratch/nobus.out" || fail "a stale udisks2 drive was listed"
done
cp "$scratch/home/backup.img" "$scratch/home/mine.img" && chown 65534 "$scratch/home/mine.img"
DBUS_SYSTEM_BUS_ADDRESS="unix:path=$scratch/no-such-socket" as_user --attach "$scratch/home/mine.img" --yes \
  recover --turbo-only --dest "$scratch/home/attached" >"$scratch/attached.out" 2>&1 ||
  { cat "$scratch/attached.out"; fail "an attached image without udisks2"; }
echo "PASSED"
