#!/usr/bin/env bash
# Builds the .deb from a configured and built tree, unpacks it into a scratch
# root the way dpkg would place it, and checks what a booth PC's desktop
# needs: both programs, a valid desktop entry, the icon in the hicolor theme,
# the copyright notice, and the run-time dependencies that no linker sees.
#   deb_package_test.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$work/out" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack"; }
deb=$(ls "$work"/out/*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || fail "no .deb produced"

root="$work/root"
dpkg -x "$deb" "$root"
for f in usr/bin/softphone usr/bin/softphone-cli; do
  [ -x "$root/$f" ] || fail "$f missing or not executable"
done
entry="$root/usr/share/applications/telvira-softphone.desktop"
[ -f "$entry" ] || fail "desktop entry missing"
desktop-file-validate "$entry" || fail "desktop entry invalid"
grep -q '^Exec=softphone$' "$entry" || fail "desktop entry does not start the booth"
grep -q '^Comment\[es\]=' "$entry" || fail "desktop entry has no Spanish comment"
icon=$(sed -n 's/^Icon=//p' "$entry")
for size in 16 32 48 128 256; do
  png="$root/usr/share/icons/hicolor/${size}x${size}/apps/$icon.png"
  [ -s "$png" ] || fail "icon $size missing"
  file "$png" | grep -q "$size x $size" || fail "icon $size has the wrong size"
done

copyright="$root/usr/share/doc/telvira-softphone/copyright"
[ -f "$copyright" ] || fail "copyright file missing"
head -n 1 "$copyright" | grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/$' \
  || fail "copyright file is not in the machine-readable form"
for field in Upstream-Name Files Copyright License; do
  grep -q "^$field: " "$copyright" || fail "copyright file lacks $field"
done
[ "$(stat -c %a "$copyright")" = 644 ] || fail "copyright file mode $(stat -c %a "$copyright")"

depends=$(dpkg-deb -f "$deb" Depends)
for pkg in libqt6widgets6 libportaudio2 libgsm1 qt6-qpa-plugins libspeex1 espeak-ng-data; do
  grep -q "\b$pkg\b" <<<"$depends" || fail "Depends lacks $pkg: $depends"
done
[ "$(dpkg-deb -f "$deb" Package)" = telvira-softphone ] || fail "package name"

# The unpacked command-line agent runs from where dpkg put it.
"$root/usr/bin/softphone-cli" --no-such-option >"$work/cli.out" 2>&1 && fail "bad option accepted"
grep -qi "no-such-option" "$work/cli.out" || fail "softphone-cli did not run: $(cat "$work/cli.out")"
echo "deb package: $(basename "$deb"), $(stat -c %s "$deb") bytes, Depends: $depends"
