# Shared by scripts/check-windows and scripts/build-windows (sourced, not run).
# Installs the mingw-w64 cross compiler and wine, and fetches and cross-builds
# Debian's own sources of what the Windows program links with.
#
# Everything fetched or built lands under KRL_WINDOWS_CACHE, by default
# ~/.cache/krl7741-windows, outside any build tree, so it is built once:
#   src/      Debian source packages (apt-get source), hidapi's tarball
#   mingw/    the cross-built libraries, installed as a prefix (bin, lib, include)

win_cache=${KRL_WINDOWS_CACHE:-$HOME/.cache/krl7741-windows}
win_prefix=$win_cache/mingw
win_triple=x86_64-w64-mingw32
win_repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Debian 12's wine64 comes without wine's preloader, so nothing keeps the
# addresses wine must map at fixed places free: the kernel starts the loader's
# heap anywhere in the gigabyte above the loader (0x7d000000), now and then
# over the shared user data at 0x7ffe0000, and that program never starts
# ("failed to map the shared user data: c0000018"). Without address
# randomization the heap starts right after the loader, far below: the check
# runs so, and with it every wine it starts.
if (((0x$(cat /proc/self/personality) & 0x0040000) == 0)); then
  exec setarch "$(uname -m)" --addr-no-randomize "$win_repo/scripts/$(basename "$0")" "$@"
fi
win_toolchain=$win_repo/cmake/mingw-w64-x86_64.cmake
# The builds kept in the cache remember their toolchain file's path: they use a
# copy of it inside the cache, so that they outlive the checkout that started
# them (a clone removed after a first, interrupted build broke the next one).
win_cached_toolchain=$win_cache/mingw-w64-x86_64.cmake
win_apt=(apt-get -o DPkg::Lock::Timeout=600)
mkdir -p "$win_cache"
cmp -s "$win_toolchain" "$win_cached_toolchain" 2>/dev/null || cp "$win_toolchain" "$win_cached_toolchain"

if [[ $EUID -eq 0 ]]; then win_sudo=(); else win_sudo=(sudo); fi

# Installs the Debian packages given, if any are missing.
win_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [[ ${#missing[@]} -eq 0 ]] && return 0
  echo "Installing: ${missing[*]}"
  "${win_sudo[@]}" "${win_apt[@]}" update -qq
  DEBIAN_FRONTEND=noninteractive "${win_sudo[@]}" "${win_apt[@]}" install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# The compilers and wine. Wine is only needed to run what was built.
win_toolchain_packages() {
  win_packages cmake ninja-build pkg-config dpkg-dev \
    g++-mingw-w64-x86-64-posix mingw-w64-tools wine64 "$@"
}

# Unpacks the Debian source package $1 under $win_cache/src (once) and prints
# its folder. Adds a deb-src entry for bookworm when apt has none.
win_source() {
  local package=$1 dir
  mkdir -p "$win_cache/src"
  dir=$(find "$win_cache/src" -maxdepth 1 -type d -name "$package-[0-9]*" | head -n1)
  if [[ -z $dir ]]; then
    if ! grep -rqs '^Types:.*deb-src\|^deb-src' /etc/apt/sources.list /etc/apt/sources.list.d/; then
      printf '%s\n' 'Types: deb-src' 'URIs: http://deb.debian.org/debian' 'Suites: bookworm' \
        'Components: main' 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' |
        "${win_sudo[@]}" tee /etc/apt/sources.list.d/krl7741-deb-src.sources >/dev/null
      "${win_sudo[@]}" "${win_apt[@]}" update -qq
    fi
    (cd "$win_cache/src" && "${win_apt[@]}" source -qq "$package" >/dev/null 2>&1) ||
      { echo "apt-get source $package failed" >&2; return 1; }
    dir=$(find "$win_cache/src" -maxdepth 1 -type d -name "$package-[0-9]*" | head -n1)
  fi
  echo "$dir"
}

# hidapi's Windows backend (windows/hid.c), 0.15.0 from Debian's pool (the
# upstream tarball Debian unstable's hidapi 0.15.0 is built from, its sum
# pinned here), with scripts/windows-hidapi-close.patch: built with its own
# CMake and installed into $win_prefix (hidapi.dll, hidapi.pc). Debian 12's
# 0.13.1 failed every write that completed at once. The build is kept while
# $win_prefix/hidapi.stamp names this version and patch; any other is rebuilt.
win_hidapi_version=0.15.0
win_hidapi_sha256=5d84dec684c27b97b921d2f3b73218cb773cf4ea915caee317ac8fc73cef8136
win_hidapi() {
  local patch=$win_repo/scripts/windows-hidapi-close.patch stamp tarball src
  stamp="hidapi $win_hidapi_version $(sha256sum <"$patch" | cut -d' ' -f1)"
  [[ -f $win_prefix/lib/pkgconfig/hidapi.pc && $(cat "$win_prefix/hidapi.stamp" 2>/dev/null) == "$stamp" ]] &&
    return 0
  win_packages curl patch
  tarball=$win_cache/src/hidapi_$win_hidapi_version.orig.tar.gz
  mkdir -p "$win_cache/src"
  if ! sha256sum -c --status <<<"$win_hidapi_sha256  $tarball" 2>/dev/null; then
    curl -fsSL -o "$tarball.part" \
      "http://deb.debian.org/debian/pool/main/h/hidapi/hidapi_$win_hidapi_version.orig.tar.gz" ||
      { echo "fetching hidapi $win_hidapi_version failed" >&2; return 1; }
    sha256sum -c --status <<<"$win_hidapi_sha256  $tarball.part" ||
      { echo "hidapi_$win_hidapi_version.orig.tar.gz: not the pinned sha256" >&2; return 1; }
    mv "$tarball.part" "$tarball"
  fi
  src=$win_cache/src/hidapi-$win_hidapi_version
  rm -rf "$src" "$win_cache/build/hidapi" "$win_prefix/hidapi.stamp"
  mkdir -p "$src"
  tar -xzf "$tarball" -C "$src" --strip-components=1
  patch -s -d "$src" -p1 <"$patch"
  cmake -S "$src" -B "$win_cache/build/hidapi" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$win_cached_toolchain" -DCMAKE_INSTALL_PREFIX="$win_prefix" \
    -DHIDAPI_BUILD_HIDTEST=OFF >/dev/null
  cmake --build "$win_cache/build/hidapi" >/dev/null
  cmake --install "$win_cache/build/hidapi" >/dev/null
  echo "$stamp" >"$win_prefix/hidapi.stamp"
}

# GoogleTest for mingw, from the source Debian's libgtest-dev ships
# (/usr/src/googletest), installed into $win_prefix as static libraries.
win_gtest() {
  [[ -f $win_prefix/lib/libgtest.a ]] && return 0
  win_packages libgtest-dev
  rm -rf "$win_cache/build/googletest"
  cmake -S /usr/src/googletest -B "$win_cache/build/googletest" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$win_cached_toolchain" -DCMAKE_INSTALL_PREFIX="$win_prefix" \
    -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON >/dev/null
  cmake --build "$win_cache/build/googletest" >/dev/null
  cmake --install "$win_cache/build/googletest" >/dev/null
}

# Runs a Windows program under wine64 in a throw-away prefix, without a display.
win_run() {
  local prefix status=0
  prefix=$(mktemp -d)
  # Debian's wine64 package keeps its programs out of PATH. Without winebus
  # no device of this machine shows up in wine, nor sends device notices.
  # The prefix is set up before the program starts, so that no device it
  # installs meanwhile reaches the program.
  local PATH=$PATH:/usr/lib/wine
  export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winebus.sys=d"
  DISPLAY= wine64 wineboot -i >/dev/null 2>&1 && wineserver -w || true
  DISPLAY= wine64 "$@" || status=$?
  wineserver -k 2>/dev/null || true
  unset WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
  rm -rf "$prefix"
  return "$status"
}

# Qt 6 (Core, Gui, Widgets, Test; the windows and offscreen platform plugins)
# from Debian's qt6-base source, cross-built with the host's own Qt tools
# (QT_HOST_PATH=/usr), installed into $win_prefix. Long: ~35 minutes on two
# idle cores; runs at low priority. Configuration notes:
# - Debian's source drops src/3rdparty/wintab (its licence forbids changes),
#   which the windows plugin's tablet support includes: tablet events are off.
# - DirectWrite is on by default, but its font engine is only compiled with
#   Direct2D, which is not needed: both are off, so that the font database
#   falls back to GDI consistently instead of failing to link.
# - OpenGL is off, and so must be its run-time loader (dynamicgl), which the
#   windows plugin's window code otherwise expects (seen failing to compile).
win_qt() {
  [[ -f $win_prefix/lib/cmake/Qt6Widgets/Qt6WidgetsConfig.cmake && -f $win_prefix/bin/Qt6Test.dll ]] && return 0
  win_packages qt6-base-dev qt6-base-dev-tools
  local src build=$win_cache/build/qtbase
  src=$(win_source qt6-base)
  nice -n 19 cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$win_cached_toolchain" -DCMAKE_INSTALL_PREFIX="$win_prefix" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DBUILD_WITH_PCH=OFF \
    -DFEATURE_network=OFF -DFEATURE_sql=OFF -DFEATURE_xml=OFF -DFEATURE_dbus=OFF \
    -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_opengl=OFF -DFEATURE_dynamicgl=OFF \
    -DFEATURE_vulkan=OFF -DFEATURE_testlib=ON -DFEATURE_gui=ON -DFEATURE_widgets=ON \
    -DFEATURE_tabletevent=OFF -DFEATURE_direct2d=OFF \
    -DFEATURE_directwrite=OFF -DFEATURE_directwrite3=OFF -DFEATURE_jpeg=OFF \
    -DFEATURE_zstd=OFF -DFEATURE_icu=OFF -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF \
    -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_freetype=OFF -DFEATURE_system_png=OFF \
    -DFEATURE_system_doubleconversion=OFF >"$win_cache/qtbase-configure.log"
  echo "Building Qt for Windows (log: $win_cache/qtbase-build.log) ..."
  nice -n 19 cmake --build "$build" --parallel "${KRL_JOBS:-2}" >"$win_cache/qtbase-build.log"
  cmake --install "$build" >/dev/null
}

# The checks' count and closing lines, the same in check-windows and
# build-windows: each check says "ok" or "FAIL" as it ends, and the closing
# lines name every failed check and test again, each with the end of its
# output, above the last line "N passed, N failed" (win_close).
passed=0
failed=0
skipped=0  # tests that could not run here, each named with its reason
win_failures=$(mktemp)
win_skips=$(mktemp)
trap 'rm -f "$win_failures" "$win_skips"' EXIT
win_tail=20  # lines of a failure's output kept for the closing lines

# A failure for the closing lines: its name, then the end of what comes on
# standard input.
win_failure() {  # name
  { echo "FAIL $1"; tail -n "$win_tail" | sed 's/^/    /'; } >>"$win_failures"
}

# One check: its name, its status (0: passed), and for a failure a file whose
# end says why.
result() {  # name, status[, file]
  if [[ $2 -eq 0 ]]; then
    passed=$((passed + 1))
    echo "ok   $1"
  else
    failed=$((failed + 1))
    echo "FAIL $1"
    win_failure "$1" <"${3:-/dev/null}"
  fi
}

# Runs a command as one check called `name`; what it printed is shown, and kept
# for the closing lines, when it fails. Its exit status is left in `status`.
win_check() {  # name, command...
  local name=$1 output
  shift
  output=$(mktemp)
  status=0
  "$@" >"$output" 2>&1 || status=$?
  [[ $status -eq 0 ]] || cat "$output"
  result "$name" "$status" "$output"
  rm -f "$output"
}

# Counts the tests of a GoogleTest program from its XML report, and names each
# failed one with the end of its output in `log` (the program's standard
# output). Without a report (the program did not end) that is one failure,
# `what`, with the end of the log.
win_count_gtest() {  # xml, log, what
  local xml=$1 log=$2 suites tests fails skips name
  if [[ ! -f $xml ]]; then
    result "$3" 1 "$log"
    return
  fi
  suites=$(grep -m1 '<testsuites ' "$xml")
  tests=$(sed -E 's/.* tests="([0-9]+)".*/\1/' <<<"$suites")
  fails=$(sed -E 's/.* failures="([0-9]+)".*/\1/' <<<"$suites")
  skips=$(grep -c 'result="skipped"' "$xml" || true)
  passed=$((passed + tests - fails - skips))
  failed=$((failed + fails))
  skipped=$((skipped + skips))
  # A skipped test is named with its reason.
  tr -d '\r' <"$log" | sed -nE 's/^\[  SKIPPED \] ([^ ]+) \([0-9]+ ms\)$/\1/p' | sort -u |
    while IFS= read -r name; do
      awk -v name="$name" '
        { sub(/\r$/, "") }
        $0 == "[ RUN      ] " name { inside = 1; next }
        inside && /: Skipped$/ { reason = 1; next }
        inside && reason && NF { print "skipped " name ": " $0; exit }
        index($0, "[  SKIPPED ] " name " (") == 1 { print "skipped " name; exit }' "$log"
    done >>"$win_skips"
  # GoogleTest's summary names each failed test once: "[  FAILED  ] Suite.Name (12 ms)"
  # after the run, "[  FAILED  ] Suite.Name" in the list at the end.
  while IFS= read -r name; do
    awk -v name="$name" '
      { sub(/\r$/, "") }
      $0 == "[ RUN      ] " name { inside = 1 }
      inside { print }
      inside && index($0, "[  FAILED  ] " name " (") == 1 { inside = 0 }' "$log" |
      win_failure "$name"
  done < <(tr -d '\r' <"$log" | sed -nE 's/^\[  FAILED  \] ([^ ]+) \([0-9]+ ms\)$/\1/p' | sort -u)
}

# Counts the tests of a CTest run from what it printed (--output-on-failure),
# and names each failed one with the end of its output. Without CTest's
# summary that is one failure, `what`, with the end of the log.
win_count_ctest() {  # log, what
  local log=$1 summary total fails name why
  summary=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n1 || true)
  if [[ -z $summary ]]; then
    result "$2" 1 "$log"
    return
  fi
  total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$summary")
  fails=$(sed -E 's/.* passed, ([0-9]+) tests failed.*/\1/' <<<"$summary")
  passed=$((passed + total - fails))
  failed=$((failed + fails))
  # CTest's list at the end: "<tab>  5 - Suite.Name (Failed)". A test's output
  # follows its own result line ("  5/164 Test   #5: Suite.Name ....***Failed")
  # up to the next result or start line or the summary; blank lines at its end
  # are left out. (CTest may end the list without a newline.)
  while IFS=$'\t' read -r name why; do
    awk -v name="$name" '
      { sub(/\r$/, "") }
      /^ *[0-9]+\/[0-9]+ Test +#[0-9]+: / || /^ +Start +[0-9]+: / || /^[0-9]+% tests passed/ { inside = 0; blank = 0 }
      /^ *[0-9]+\/[0-9]+ Test +#[0-9]+: / { split($0, parts, ": "); split(parts[2], words, " "); inside = words[1] == name }
      inside && NF { for (; blank > 0; blank--) print ""; print; next }
      inside { blank++ }' "$log" | win_failure "$name ($why)"
  done < <(sed -n '/^The following tests FAILED:/,$p' "$log" |
    sed -nE 's/^[[:space:]]+[0-9]+ - (.+) \(([^()]+)\).*$/\1\t\2/p')
}

# The closing lines, and the script's status: 0 when nothing failed. Skipped
# tests, if any, are named above them and counted in the last line.
win_close() {
  if [[ -s $win_skips ]]; then
    echo
    cat "$win_skips"
  fi
  if [[ -s $win_failures ]]; then
    echo
    echo "Failed:"
    cat "$win_failures"
  fi
  echo "$passed passed, $failed failed$([[ $skipped -eq 0 ]] || echo ", $skipped skipped")"
  [[ $failed -eq 0 ]]
}
