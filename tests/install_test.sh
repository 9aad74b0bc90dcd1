#!/usr/bin/env bash
# A staged install of the build writes every file under its stage, where it
# belongs, and nothing anywhere else, whether the stage is the prefix
# (`cmake --install build --prefix STAGE`) or DESTDIR with the prefix /usr (as
# a package build does). Lists every file installed.
#   install_test.sh BUILD_DIR prefix|destdir
set -euo pipefail
build=$1
mode=$2
source "$(dirname "$0")/install_files.sh"

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

case $mode in
  prefix)
    root=$stage/opt/krl7741
    log=$(cmake --install "$build" --prefix "$root")
    ;;
  destdir)
    root=$stage/usr
    log=$(DESTDIR=$stage cmake --install "$build" --prefix /usr)
    ;;
  *) echo "unknown mode $mode" >&2; exit 64 ;;
esac

status=0

# Every path the install reports writing lies inside the stage.
written=$(sed -nE 's/^-- (Installing|Up-to-date): //p' <<<"$log")
[[ -n $written ]] || { echo "the install reported no files"; status=1; }
outside=$(grep -v "^$stage/" <<<"$written" || true)
if [[ -n $outside ]]; then
  printf 'written outside the stage: %s\n' $outside
  status=1
fi

# Every file in the stage lies under the prefix, and is one that belongs there.
echo "installed under ${root#"$stage"}:"
(cd "$stage" && find . -type f -o -type l | sort | sed 's|^\.|  |')
strays=$(cd "$stage" && find . \( -type f -o -type l \) ! -path "./${root#"$stage/"}/*")
if [[ -n $strays ]]; then
  printf 'outside the prefix: %s\n' $strays
  status=1
fi
check_files "$(cd "$root" && find . -type f -o -type l | sed 's|^\./||')" || status=1

exit $status
