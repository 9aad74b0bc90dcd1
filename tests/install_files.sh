# Sourced by the install and package checks: what an install must hold.

# Icon bitmaps, rendered from the drawing at build time wherever rsvg-convert
# is found, in any of the usual sizes.
icon_bitmap='^share/icons/hicolor/[0-9]+x[0-9]+/apps/krl7741-panel\.png$'

# Prints the files that must be there, relative to the prefix, one a line.
required_files() {
  grep -v -e '^#' -e '^$' "$(dirname "${BASH_SOURCE[0]}")/installed-files.txt"
  if command -v rsvg-convert >/dev/null; then
    echo share/icons/hicolor/48x48/apps/krl7741-panel.png
  fi
}

# Checks a list of installed files (relative to the prefix, one a line)
# against the required ones: prints each one missing and each one unexpected,
# and fails if there is any.
check_files() {
  local required missing unexpected
  required=$(required_files | sort)
  missing=$(comm -23 <(echo "$required") <(sort <<<"$1"))
  unexpected=$(comm -13 <(echo "$required") <(sort <<<"$1") | grep -Ev "$icon_bitmap" || true)
  [[ -z $missing ]] || printf 'missing: %s\n' $missing
  [[ -z $unexpected ]] || printf 'unexpected: %s\n' $unexpected
  [[ -z $missing && -z $unexpected ]]
}
