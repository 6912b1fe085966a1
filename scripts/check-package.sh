#!/usr/bin/env bash
# Builds the Debian package and checks it: its contents, lintian, the desktop entry, and a start of
# the unpacked program as an ordinary user who cannot write its folder, which must then keep its
# files in the per-user folder and write setup.ini there when it is told to end; then the same
# user's `korvalinex --demo`, which must find and read the demo regulator in a folder of its own.
# Run as root (it creates the user korvalinex-ci when missing); part of scripts/test.sh.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
fail() { echo "check-package: $*" >&2; exit 1; }

deb="$("$root/scripts/make-package.sh" | tail -n1)"
echo "check-package: $deb"

# --- contents
listing="$(dpkg-deb -c "$deb" | awk '{ $1=$2=$3=$4=$5=""; sub(/^ +/, ""); print }')"
arch="$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)"
expect=(./usr/bin/korvalinex "./usr/lib/$arch/korvalinex/korvalinex-demo.so"
        ./usr/share/korvalinex/Teplota1.txt ./usr/share/korvalinex/Teplota2.txt
        ./usr/share/applications/korvalinex.desktop
        ./usr/share/man/man1/korvalinex.1.gz
        ./usr/share/doc/korvalinex/copyright ./usr/share/doc/korvalinex/changelog.Debian.gz)
for s in 16 32 48 64 128 256; do expect+=("./usr/share/icons/hicolor/${s}x${s}/apps/korvalinex.png"); done
while IFS= read -r f; do
  expect+=("./usr/share/korvalinex/${f#"$root/data/"}")
done < <(find "$root/data/Regulators" "$root/data/Languages" "$root/data/Help" -type f 2>/dev/null)
expect+=(./usr/lib/udev/rules.d/60-korvalinex-ftdi.rules
        ./usr/bin/korvalinex-cli ./usr/share/man/man1/korvalinex-cli.1.gz)
for e in "${expect[@]}"; do
  grep -qxF -- "$e" <<<"$listing" || fail "missing from the package: $e"
done
echo "check-package: ${#expect[@]} expected files present"

# --- lintian (errors fail; warnings are printed) and the desktop entry
lintian_out="$(lintian --fail-on error "$deb")" || { echo "$lintian_out"; fail "lintian reported errors"; }
echo "$lintian_out"
# The demo module is private to the program: nothing for ldconfig, so no maintainer scripts at all.
grep -q "maintscript-calls-ldconfig" <<<"$lintian_out" && fail "the package calls ldconfig"
dpkg-deb -I "$deb" postinst >/dev/null 2>&1 && fail "the package has a postinst script"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
chmod 755 "$tmp"
dpkg-deb -x "$deb" "$tmp/root"
desktop-file-validate "$tmp/root/usr/share/applications/korvalinex.desktop" ||
  fail "desktop-file-validate reported errors"
grep -qx "Exec=korvalinex --demo" "$tmp/root/usr/share/applications/korvalinex.desktop" ||
  fail "the desktop entry has no action that starts the demo"

# --- the unpacked program, started by an ordinary user for whom its folder is read-only
user=korvalinex-ci
id "$user" >/dev/null 2>&1 || useradd --create-home --shell /usr/sbin/nologin "$user"
home="$(getent passwd "$user" | cut -d: -f6)"
bin="$tmp/root/usr/bin/korvalinex"
folder="$home/.local/share/korvalinex"
rm -rf "$folder"
setpriv --reuid="$user" --regid="$user" --init-groups test -w "$tmp/root/usr/bin" &&
  fail "the unpacked program folder is writable for $user"

# Starts the program as the user with the given arguments, in the background, its output in
# $tmp/out.log.
start_program() {
  setpriv --reuid="$user" --regid="$user" --init-groups \
    env -i HOME="$home" PATH=/usr/bin:/bin QT_QPA_PLATFORM=offscreen LANG=C.UTF-8 "$bin" "$@" \
    >"$tmp/out.log" 2>&1 &
  pid=$!
}

# Waits up to $2 tenths of a second for the command $1 to succeed while the program runs.
wait_for() {
  local i
  for i in $(seq "$2"); do
    eval "$1" && return 0
    kill -0 "$pid" 2>/dev/null || { cat "$tmp/out.log"; fail "the program ended by itself"; }
    sleep 0.1
  done
  cat "$tmp/out.log"
  fail "timed out waiting for: $1"
}

# Ends the program with SIGTERM and waits for it (a few seconds at most): it must end with status 0.
stop_program() {
  local i status=0
  kill -TERM "$pid"
  for i in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$pid" 2>/dev/null; then kill -KILL "$pid"; fail "the program did not end on SIGTERM"; fi
  wait "$pid" || status=$?
  [ "$status" -eq 0 ] || { cat "$tmp/out.log"; fail "the program ended with status $status"; }
}

# Starts the program, waits until its per-user folder holds the shipped data and ends it.
run_once() {
  start_program
  wait_for '[ -f "$folder/Teplota2.txt" ]' 100
  sleep 0.5 # the window comes up; a request before that is handled when its event loop runs
  stop_program
}

run_once
for d in Languages Data Help Regulators Regulators/CZ Regulators/EN Regulators/GE Regulators/Other; do
  [ -d "$folder/$d" ] || fail "working directory $d missing in $folder"
done
# Every shipped file but the list of earlier versions, which the program only reads.
(cd "$tmp/root/usr/share/korvalinex" && find . -type f ! -name earlier-shipped.sha256) |
  while IFS= read -r f; do
    cmp -s "$tmp/root/usr/share/korvalinex/$f" "$folder/$f" || fail "shipped file $f not copied"
  done
[ -f "$tmp/root/usr/share/korvalinex/earlier-shipped.sha256" ] || fail "earlier-shipped.sha256 not shipped"
[ -e "$folder/earlier-shipped.sha256" ] && fail "earlier-shipped.sha256 copied into $folder"
[ -f "$folder/shipped.sha256" ] || fail "no record of the copied files in $folder"
grep -q '^LANGUAGE=CZ' "$folder/setup.ini" || fail "setup.ini not written on SIGTERM"
[ "$(stat -c %U "$folder/setup.ini")" = "$user" ] || fail "setup.ini not owned by $user"
ls "$tmp/root/usr/bin" | grep -qvxE "korvalinex|korvalinex-cli" && fail "files written beside the executable"

# A second start keeps a model file the user changed and brings back a shipped file deleted since.
model="$(cd "$folder" && find Regulators -type f -name '*.ini' | head -n1)"
echo "; changed by the user" >>"$folder/$model"
cp "$folder/$model" "$tmp/changed"
rm "$folder/Teplota2.txt"
run_once
cmp -s "$tmp/changed" "$folder/$model" || fail "the user's changed $model was replaced"
echo "check-package: per-user folder $folder filled, setup.ini written on SIGTERM, user's file kept"

# --- the demo: the module is found, the simulated regulator identified and read over the simulated
# adapter (a paced read takes a few seconds), in the demo's own folder; the user's own setup.ini is
# neither created (the first run, on an empty folder) nor changed (the second).
run_demo() {
  start_program --demo
  wait_for 'grep -q "^simulated regulator: read" "$tmp/out.log"' 600
  grep -q '^simulated regulator: identification' "$tmp/out.log" || fail "no identification before the read"
  stop_program
  grep -q '^DEVICE=USB' "$folder/Demo/setup.ini" || fail "the demo's setup.ini is not in $folder/Demo"
  [ -f "$folder/Demo/Regulators/CZ/KVX-40 OPTO.ini" ] || fail "the demo folder was not filled"
}
sum_before="$(sha256sum "$folder/setup.ini")"
run_demo
[ "$(sha256sum "$folder/setup.ini")" = "$sum_before" ] || fail "the demo changed $folder/setup.ini"
rm -rf "$folder"
run_demo
[ -e "$folder/setup.ini" ] && fail "the demo created $folder/setup.ini"
echo "check-package: the demo found and read its regulator in $folder/Demo, the user's setup.ini untouched"

# --- the settings sheet from the unpacked tool, as the user and without a display: a PDF of a
# parameter file on the shipped model's definition, read back as text; and the libraries that the
# window's print dialog and PDF writer need are the package's dependencies.
depends="$(dpkg-deb -f "$deb" Depends)"
for lib in libqt6gui6 libqt6printsupport6; do
  grep -q "$lib" <<<"$depends" || fail "the package does not depend on $lib: $depends"
done
printf '11.8\r\n21\r\n20 C\r\nData\r\n1\r\n3\r\n2\r\n0\r\n3\r\n1\r\n' >"$tmp/master.zeq"
chmod 644 "$tmp/master.zeq"
sheet="$home/sheet.pdf"
setpriv --reuid="$user" --regid="$user" --init-groups \
  env -i HOME="$home" PATH=/usr/bin:/bin LANG=C.UTF-8 "$tmp/root/usr/bin/korvalinex-cli" \
  sheet "$tmp/master.zeq" --model "KVX-40 OPTO" --lang EN -o "$sheet" >"$tmp/out.log" 2>&1 ||
  { cat "$tmp/out.log"; fail "korvalinex-cli sheet failed"; }
pdftotext -layout "$sheet" - | grep -qE '^ *Brake +Hard *$' ||
  { pdftotext -layout "$sheet" - ; fail "the sheet's PDF does not show the brake"; }
rm -f "$sheet"
echo "check-package: korvalinex-cli sheet wrote a PDF without a display, as $user"
