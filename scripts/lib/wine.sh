# Shared Wine set-up for the scripts: one private prefix inside the build
# folder, headless through the null graphics driver, never downloading anything.
# LETTERCAST_ARCH picks the build: x86 (the default; build/, a 32-bit prefix)
# or x64 (build/x64/, a 64-bit prefix, which runs 32-bit programs too).
# LETTERCAST_BUILD_DIR names that build's folder when it is elsewhere.
# Source this file; it defines the variables and the functions below.

lc_top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
source "$lc_top/scripts/lib/builds.sh"
lc_arch=${LETTERCAST_ARCH:-x86}
case $lc_arch in
  x86) lc_build=${LETTERCAST_BUILD_DIR:-$lc_top/build}; export WINEARCH=win32 ;;
  x64) lc_build=${LETTERCAST_BUILD_DIR:-$(lc_build_of "$lc_top/build" x64)}; export WINEARCH=win64 ;;
  *) echo "wine: LETTERCAST_ARCH is x86 or x64, not $lc_arch" >&2; return 2 2>/dev/null || exit 2 ;;
esac

export WINEPREFIX=${LETTERCAST_WINEPREFIX:-$lc_build/wineprefix}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export LANG=C.UTF-8
export LC_ALL=C.UTF-8
unset DISPLAY

# Creates the prefix once; a marker file says it is complete, so an interrupted
# creation is redone rather than reused half made. Two steps of one build may
# start at once: the second waits on the lock beside the prefix and then finds
# it made, rather than removing what the first is making.
lc_wine_prefix() {
  if lc_wine_ready; then lc_wine_fonts; return 0; fi
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9 || exit 1
    if lc_wine_ready; then exit 0; fi
    lc_wine_create_prefix
  ) 9>"$WINEPREFIX.lock"
}

# The prefix and its untouched copy beside it (PREFIX.clean), which no
# program ever runs in: a job's fresh prefix is copied from that, since the
# tests that run in the prefix itself make and remove files while it is copied.
lc_wine_ready() {
  [ -f "$WINEPREFIX/.lettercast-ready" ] && [ -f "$WINEPREFIX.clean/.lettercast-ready" ]
}

# A fresh prefix at DEST, as the build's was when it was made. Wine's own
# DLLs (system32, syswow64, winsxs: nearly all of a prefix's 600 MB to 1.3 GB)
# are hard links to the clean copy's, which Wine only ever reads once a prefix
# is made; everything else (registry, user folders, windows/) is copied.
lc_wine_fresh() {   # lc_wine_fresh DEST
  lc_wine_prefix || return 1
  local clean=$WINEPREFIX.clean dest=$1 d
  local shared=(system32 syswow64 winsxs)
  mkdir -p "$dest" || return 1
  tar -C "$clean" "${shared[@]/#/--exclude=./drive_c/windows/}" -cf - . | tar -C "$dest" -xf - || return 1
  for d in "${shared[@]}"; do
    [ ! -d "$clean/drive_c/windows/$d" ] || cp -al "$clean/drive_c/windows/$d" "$dest/drive_c/windows/$d" || return 1
  done
}

lc_wine_create_prefix() {
  echo "wine: creating the test prefix in $WINEPREFIX"
  rm -rf "$WINEPREFIX" "$WINEPREFIX.clean"
  wineboot -i </dev/null >/dev/null 2>&1 || true
  wineserver -w </dev/null >/dev/null 2>&1 || true
  wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1
  wineserver -k </dev/null >/dev/null 2>&1 || true
  wineserver -w </dev/null >/dev/null 2>&1 || true
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine: the prefix could not be created" >&2
    return 1
  fi
  lc_wine_fonts
  touch "$WINEPREFIX/.lettercast-ready"
  rm -rf "$WINEPREFIX.clean"
  cp -a "$WINEPREFIX" "$WINEPREFIX.clean"
}

# Wine's own fonts (Debian's fonts-wine: MS Sans Serif, Marlett, Tahoma, ...)
# into the prefix's Fonts folder, the only place this Wine looks for them:
# without them dialogs are drawn in DejaVu Sans, about 16% wider than on
# Windows, and title-bar buttons as letters. Done for prefixes made before too.
lc_wine_fonts() {
  local fonts=/usr/share/wine/fonts dest=$WINEPREFIX/drive_c/windows/Fonts
  [ -f "$fonts/sserife.fon" ] || return 0
  [ -f "$dest/sserife.fon" ] && [ -f "$dest/marlett.ttf" ] && return 0
  mkdir -p "$dest" && cp -f "$fonts"/* "$dest"/
}

# The user's application data folder as Wine makes it: a test program ended
# while it pointed the folder elsewhere leaves the prefix so, and every later
# job would keep its logs there. Only while no server has the prefix open.
lc_wine_appdata() {
  sed -i -E \
    -e 's|^"AppData"=str\(2\):".*"$|"AppData"=str(2):"%USERPROFILE%\\\\AppData\\\\Roaming"|' \
    -e 's|^"AppData"="C:\\\\users\\\\([^\\]+)\\\\.*"$|"AppData"="C:\\\\users\\\\\1\\\\AppData\\\\Roaming"|' \
    "$WINEPREFIX/user.reg"
}

# One persistent server with its output detached: without it every wine call
# starts Wine's services holding the caller's pipes open.
lc_wine_start() {
  lc_wine_prefix || return 1
  lc_wine_serve
}

# The same for a prefix made elsewhere, as it stands.
lc_wine_serve() {
  lc_wine_appdata
  wineserver -p </dev/null >/dev/null 2>&1 || true
  wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}

# A hidden window that holds the prefix's desktop open until the server
# ends (tests/support/desktop_keeper.cpp): for a run of many test programs.
lc_wine_keep_desktop() {
  local keeper=$lc_build/tests/desktop_keeper.exe
  [ -f "$keeper" ] || return 0
  (wine "$keeper" </dev/null >/dev/null 2>&1 &)
}

lc_wine_stop() {
  wineserver -k </dev/null >/dev/null 2>&1 || true
  wineserver -w </dev/null >/dev/null 2>&1 || true
}
