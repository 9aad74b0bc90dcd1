#!/usr/bin/env bash
# Builds the Debian package from this build with CPack and checks it as a
# user's machine would meet it: its name, fields and computed dependencies;
# every file in place under /usr (nothing outside /usr and /lib); the menu
# entries, icon bitmaps and AppStream metadata valid; the maintainer scripts
# harmless where udev is not running; the command-line tool working from the
# unpacked package; and lintian without errors (its full report is printed).
#   package_test.sh BUILD_DIR
set -euo pipefail
build=$1
source "$(dirname "$0")/install_files.sh"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
fail() { echo "FAIL: $*"; status=1; }

# Build it. The packages land in (and CPack stages in) the throwaway folder.
if ! cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log"
  exit 1
fi
debs=("$work"/out/*.deb)
[[ ${#debs[@]} -eq 1 && -f ${debs[0]} ]] || { echo "expected one package, got: ${debs[*]}"; exit 1; }
deb=${debs[0]}
field() { dpkg-deb -f "$deb" "$1"; }

# Name, fields, dependencies.
echo "package: $(basename "$deb"), $(stat -c %s "$deb") bytes"
echo "Depends: $(field Depends)"
[[ $(field Package) == krl7741-panel ]] || fail "Package is $(field Package)"
[[ $(field Architecture) == "$(dpkg --print-architecture)" ]] || fail "Architecture is $(field Architecture)"
[[ $(basename "$deb") == "krl7741-panel_$(field Version)_$(field Architecture).deb" ]] ||
  fail "file name $(basename "$deb")"
for f in Maintainer Section Description Homepage; do
  [[ -n $(field $f) ]] || fail "no $f field"
done

# Every library a program links comes from a package that Depends names, by
# whatever name this release gives it (libqt6core6 on Debian 12,
# libqt6core6t64 on Debian 13).
depends=$(field Depends | sed -E 's/ *[,|] */\n/g' | awk '{print $1}')
# The package that holds the file at PATH ('' when none): the library folders
# may be listed under /lib or /usr/lib, whichever the release has merged into.
owner() {
  local path alt found
  path=$(realpath "$1")
  for alt in "$1" "$path" "${path/#\/usr\/lib\//\/lib/}" "${path/#\/lib\//\/usr\/lib/}"; do
    found=$(dpkg-query -S "$alt" 2>/dev/null) || continue
    sed -n '1s/[:,].*//p' <<<"$found"
    return 0
  done
}

# Contents: root-owned, nothing outside /usr and /lib, exactly the files an
# install puts under /usr, manual pages and the changelog compressed.
listing=$(dpkg-deb -c "$deb")
echo "contents:"
sed 's/^/  /' <<<"$listing"
paths=$(awk '{print $6}' <<<"$listing")
outside=$(grep -Ev '^\./$|^\./(usr|lib)/' <<<"$paths" || true)
[[ -z $outside ]] || fail "outside /usr and /lib: $(echo $outside)"
[[ -z $(awk '$2 != "root/root"' <<<"$listing") ]] || fail "files not owned by root"
uncompressed=$(awk '/^-/ {print $6}' <<<"$listing" | grep '^\./usr/share/man/' | grep -v '\.gz$' || true)
[[ -z $uncompressed ]] || fail "uncompressed manual pages: $(echo $uncompressed)"
files=$(awk '/^[-l]/ {print $6}' <<<"$listing" |
  sed -E -e 's|^\./usr/||' -e 's|^(share/man/.*)\.gz$|\1|' -e 's|^(share/doc/[^/]+/changelog)\.gz$|\1|')
check_files "$files" || status=1

# Unpacked: metadata valid, icon bitmaps of the size their folder says.
root=$work/root
dpkg-deb -x "$deb" "$root"
dpkg-deb -e "$deb" "$work/control"
desktop-file-validate "$root"/usr/share/applications/*.desktop || fail "desktop entries invalid"
for entry in "$root"/usr/share/applications/*.desktop; do
  icon=$(sed -n 's/^Icon=//p' "$entry")
  # The entry's own Exec and each of its actions'.
  for exec in $(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry"); do
    [[ -x $root/usr/bin/$exec ]] || fail "$(basename "$entry") starts $exec, not in the package"
  done
  compgen -G "$root/usr/share/icons/hicolor/*/apps/$icon.*" >/dev/null ||
    fail "$(basename "$entry") shows icon $icon, not in the package"
done
appstreamcli validate --no-net "$root"/usr/share/metainfo/*.xml || fail "AppStream metadata invalid"
for png in "$root"/usr/share/icons/hicolor/*/apps/*.png; do
  [[ -e $png ]] || continue
  size=$(basename "$(dirname "$(dirname "$png")")")
  file -b "$png" | grep -q "PNG image data, ${size%x*} x ${size#*x}," || fail "$png is $(file -b "$png")"
done

# The binaries find every library they need on this system, and the
# command-line tool works from the unpacked package (no build tree behind it).
for bin in "$root"/usr/bin/*; do
  ! ldd "$bin" | grep 'not found' || fail "$(basename "$bin") misses libraries"
  linked=$(ldd "$bin")
  for soname in $(objdump -p "$bin" | awk '$1 == "NEEDED" {print $2}'); do
    path=$(awk -v l="$soname" '$1 == l && $2 == "=>" {print $3}' <<<"$linked")
    package=$(owner "$path")
    if [[ -z $package ]]; then
      fail "$(basename "$bin") links $soname ($path), which no package holds"
    elif ! grep -qxF "$package" <<<"$depends"; then
      fail "$(basename "$bin") links $soname from $package, which Depends lacks"
    fi
  done
done
echo "\$ krl7741 --virtual set pwm1=3"
"$root/usr/bin/krl7741" --virtual set pwm1=3 || fail "krl7741 --virtual set pwm1=3 exited with $?"

# Maintainer scripts: always succeed, even when udevadm fails; reload the rules
# and replay hidraw only on install and removal, and only where udev runs
# (the test swaps in an udevadm that records its calls and fails).
mkdir "$work/fake"
printf '#!/bin/sh\necho "$*" >>"%s"\nexit 1\n' "$work/udevadm.log" >"$work/fake/udevadm"
chmod +x "$work/fake/udevadm"
maintainer_script() {  # SCRIPT ARGS... -> what it asked udevadm, one call a line
  rm -f "$work/udevadm.log"
  PATH=$work/fake:$PATH "$work/control/$1" "${@:2}" >/dev/null || fail "$* exited with $?"
  cat "$work/udevadm.log" 2>/dev/null || true
}
if [[ -S /run/udev/control ]]; then
  added=$'control --reload-rules\ntrigger --subsystem-match=hidraw --action=add'
  changed=$'control --reload-rules\ntrigger --subsystem-match=hidraw --action=change'
else
  echo "udev is not running here: the maintainer scripts must leave it alone"
  added='' changed=''
fi
[[ $(maintainer_script postinst configure '') == "$added" ]] || fail "postinst configure"
[[ $(maintainer_script postinst abort-upgrade 1.0.0) == '' ]] || fail "postinst abort-upgrade"
[[ $(maintainer_script postrm remove) == "$changed" ]] || fail "postrm remove"
[[ $(maintainer_script postrm purge) == "$changed" ]] || fail "postrm purge"
[[ $(maintainer_script postrm upgrade 1.0.0) == '' ]] || fail "postrm upgrade"

# lintian: errors fail, warnings are reported.
lintian=0
report=$(lintian --fail-on error "$deb" 2>&1) || lintian=$?
echo "lintian (exit $lintian):"
grep -v 'running with root privileges' <<<"$report" | sed 's/^/  /' || true
[[ $lintian -eq 0 ]] || fail "lintian reports errors"

exit $status
