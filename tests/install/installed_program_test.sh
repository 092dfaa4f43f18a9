#!/usr/bin/env bash
# Installs the build into a temporary folder (DESTDIR, prefix /usr) and uses
# the installed programs from elsewhere, with a fresh home: tranquo-cli must
# find its program folder and register the library beside it by itself, and
# recover the sample card. Also checks the desktop files and the man page.
#   installed_program_test.sh BUILD_DIR MAKE_SAMPLE_CARD
set -euo pipefail
build="$1"
make_card="$2"
scratch="$(mktemp -d /tmp/tranquo-install-test.XXXXXX)"
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }

DESTDIR="$scratch/root" cmake --install "$build" --prefix /usr >/dev/null
usr="$scratch/root/usr"
folder="$usr/lib/tranquo"
for file in Tranquo tranquo-cli libTyphex.so settings.zq4 stddirs.lis stdfiles.lis Language; do
  [ -e "$folder/$file" ] || fail "$folder/$file was not installed"
done
[ ! -e "$folder/registry" ] || fail "the build tree's settings store was installed"

# No build path in the run paths.
for file in "$folder/Tranquo" "$folder/tranquo-cli" "$folder/libTyphex.so"; do
  if readelf -d "$file" | grep -E 'R(UN)?PATH' | grep -qv '\[\$ORIGIN\]'; then
    fail "$file has a run path other than \$ORIGIN: $(readelf -d "$file" | grep -E 'R(UN)?PATH')"
  fi
done

# The desktop integration, as software centres and menus read it.
app=org.tranquo.Tranquo
desktop-file-validate "$usr/share/applications/$app.desktop"
appstreamcli validate --no-net --pedantic "$usr/share/metainfo/$app.metainfo.xml" >/dev/null ||
  appstreamcli validate --no-net "$usr/share/metainfo/$app.metainfo.xml"
[ -s "$usr/share/icons/hicolor/scalable/apps/$app.svg" ] || fail "no scalable icon"
[ -s "$usr/share/icons/hicolor/48x48/apps/$app.png" ] || fail "no 48x48 icon"

# Run away from the build tree, with a home of its own and none of the
# variables that would point back into it.
mkdir -p "$scratch/home" "$scratch/work"
cd "$scratch/work"
run() { env -u TRANQUO_REGISTRY -u TRANQUO_PROGRAM_DIR -u TRANQUO_ATTACH -u XDG_CONFIG_HOME HOME="$scratch/home" "$@"; }

[ "$(run "$usr/bin/tranquo-cli" --version)" = "tranquo-cli $(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")" ] ||
  fail "tranquo-cli --version says '$(run "$usr/bin/tranquo-cli" --version)'"
run "$usr/bin/tranquo" --version | grep -q '^Tranquo [0-9]' || fail "tranquo --version"

"$make_card" card.img >/dev/null
# The build's own tranquo-cli keeps to the build tree's store.
run "$build/bin/tranquo-cli" --attach card.img recover --turbo-only --dest "$scratch/from-build" </dev/null >build-run.log 2>&1 ||
  { cat build-run.log; fail "the build's tranquo-cli failed to recover the sample card"; }
[ ! -e "$scratch/home/.config" ] || fail "a program run from the build tree wrote into the user's settings"

run "$usr/bin/tranquo-cli" --attach card.img --yes recover --dest "$scratch/recovered" </dev/null >recover.log 2>&1 ||
  { cat recover.log; fail "the installed tranquo-cli failed to recover the sample card"; }
count=$(find "$scratch/recovered/My Recovered Mobile Device/Turbo Scan" -type f -name '*.JPG' | wc -l)
[ "$count" -gt 0 ] || { cat recover.log; fail "nothing recovered by the Turbo Scan"; }
# The deep scan keeps no second copy of what the turbo scan saved whole.
grep -Eq 'Deep scan completed: ([1-9]|.* [1-9][0-9]* already saved by the turbo scan)' recover.log ||
  { cat recover.log; fail "nothing recovered by the Deep Scan"; }
store="$scratch/home/.config/tranquo/registry"
grep -q "=sz:$folder/libTyphex.so\$" "$store" || fail "the store does not name the installed library"
if grep -q "$build" "$store"; then fail "the store names the build tree"; fi

# The man page renders cleanly and documents every command and option.
man_page="$usr/share/man/man1/tranquo-cli.1.gz"
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$man_page" 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "man page warnings: $warnings"
LC_ALL=C.UTF-8 man -l "$usr/share/man/man1/tranquo.1.gz" >/dev/null
source=$(gzip -dc "$man_page")
commands=$(run "$usr/bin/tranquo-cli" --help | sed -n '/^Commands:/,/^$/s/^  \([a-z-]*\) .*/\1/p')
[ -n "$commands" ] || fail "no commands in tranquo-cli --help"
for command in $commands; do
  grep -q "^\.SS \"$command" <<<"$source" || fail "the man page lacks the command $command"
  for option in $(run "$usr/bin/tranquo-cli" help "$command" | grep -o -- '--[a-z-]*' | sort -u); do
    grep -q -- "${option//-/\\\\-}" <<<"$source" || fail "the man page lacks $command's option $option"
  done
done
for option in $(run "$usr/bin/tranquo-cli" --help | grep -o -- '--[a-z-]*' | sort -u); do
  grep -q -- "${option//-/\\\\-}" <<<"$source" || fail "the man page lacks the option $option"
done
echo "installed program: OK"
