# shellcheck shell=bash
# What the scripts share. Each sources it once it stands in the checkout:
#
#   cd "$(dirname "$0")/.."
#   . scripts/lib.sh
#
# simulated units started and stopped, the wine prefix and its serial ports,
# an X server and its windows, a step's time, the packages a script needs,
# and what is ended when the script ends. No `set -e` here: each script
# keeps its own.

# --- When the script ends -------------------------------------------------

# at_exit COMMAND ARG...: run when the script ends, however it ends; the
# last one given runs first. Then the units still running are stopped, the
# wine server of the prefix in use is ended and the X server stopped. The
# script sets no EXIT trap of its own: it would replace this one.
kronex_at_exit=()
at_exit() {
  local command
  printf -v command '%q ' "$@"
  kronex_at_exit+=("$command")
}
kronex_exit() {
  local status=$? i
  [ -z "${kronex_step_name:-}" ] || step_report "$status"
  for ((i = ${#kronex_at_exit[@]} - 1; i >= 0; i--)); do
    eval "${kronex_at_exit[i]}" || true
  done
  stop_units >/dev/null 2>&1 || true
  [ -z "${kronex_wine:-}" ] || timeout 20 "$WINESERVER" -k 2>/dev/null || true
  [ -z "${XVFB_PID:-}" ] || kill "$XVFB_PID" 2>/dev/null || true
}
trap kronex_exit EXIT

# --- Steps and their time -------------------------------------------------

# step NAME COMMAND...: runs COMMAND (a program or a function of the script)
# and prints, on stderr,
#   == PREFIX: NAME took N s (total M s)
# or "FAILED after" instead of "took"; PREFIX is STEP_PREFIX (default the
# script's name), the total counts from STEP_START (default: when this file
# was sourced). With STEP_ANNOUNCE=1 an empty line and "== PREFIX: NAME"
# come first, and they and "took" go to stdout. Call it as a plain command:
# under `set -e` a failing command inside a function then still ends the
# script, and the step is reported as failed on the way out.
STEP_PREFIX=${STEP_PREFIX:-$(basename "$0" .sh)}
STEP_START=${STEP_START:-$SECONDS}
step() {
  kronex_step_name=$1
  kronex_step_start=$SECONDS
  shift
  [ "${STEP_ANNOUNCE:-0}" = 0 ] || printf '\n== %s: %s\n' "$STEP_PREFIX" "$kronex_step_name"
  "$@"
  local status=$?
  step_report "$status"
  return "$status"
}
step_report() {
  local to=2
  [ "$1" -ne 0 ] || [ "${STEP_ANNOUNCE:-0}" = 0 ] || to=1
  echo "== $STEP_PREFIX: $kronex_step_name $([ "$1" -eq 0 ] && echo took || echo FAILED after)" \
    "$((SECONDS - kronex_step_start)) s (total $((SECONDS - STEP_START)) s)" >&"$to"
  kronex_step_name=
}

# --- Checks ---------------------------------------------------------------

# ok TEXT, fail TEXT: a check's outcome on a line of its own; fail sets
# status=1, the exit status the script ends with. Both always succeed.
ok() { echo "ok    : $*"; }
fail() {
  echo "FAILED: $*"
  status=1
}

# --- Packages ---------------------------------------------------------------

# install_deps [GROUP | PACKAGE]...: the Debian 12 packages the build and the
# suite need, and those of each GROUP named, only those that are missing (as
# root, or through sudo). scripts/install-deps.sh is the same from the
# command line.
# shellcheck disable=SC2120 # the base packages alone, without arguments
install_deps() {
  # libcli11-dev and nlohmann-json3-dev: kronex-update's arguments and JSON
  # (header-only); gettext: its message catalogue; python3-jsonschema: its
  # JSON checked against docs/schema.
  local packages=(cmake ninja-build g++ qt6-base-dev fonts-liberation libgtest-dev
    libcli11-dev nlohmann-json3-dev gettext python3-jsonschema) word p missing=() as_root=()
  for word in "$@"; do
    case $word in
    # The Windows build and its runs under wine: mingw-w64 with posix
    # threads, GoogleTest's sources for the target, wine64.
    windows) packages+=(g++-mingw-w64-x86-64-posix googletest wine64) ;;
    # Qt for Windows built from Debian's source (scripts/qt-windows.sh).
    qt-source) packages+=(qt6-base-dev-tools dpkg-dev perl) ;;
    # The window under wine on an X server of its own, clicked and shot.
    window) packages+=(xvfb xdotool imagemagick fonts-wine) ;;
    # The Windows installer and ZIP, signed and tried under wine.
    windows-package) packages+=(nsis xvfb xdotool fonts-wine unzip zip osslsigncode openssl) ;;
    # The Debian package, checked and installed.
    package) packages+=(dpkg-dev file desktop-file-utils lintian help2man man-db) ;;
    # libFuzzer and the sanitizers' run-time (clang 14).
    fuzz) packages+=(clang libclang-rt-14-dev) ;;
    # The benchmark's count of system calls.
    bench) packages+=(strace) ;;
    *) packages+=("$word") ;;
    esac
  done
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -gt 0 ] || return 0
  [ "$(id -u)" -eq 0 ] || as_root=(sudo)
  echo "Installing: ${missing[*]}"
  "${as_root[@]}" apt-get update -qq &&
    DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# --- Simulated units ------------------------------------------------------

# start_unit DEVSIM DIR OPTION...: the simulated unit DEVSIM (a kronex-devsim
# program) in the background with OPTIONs, its command log in
# DIR/transcript.txt, its output in DIR/path and its errors in DIR/stderr
# (DIR, and a --dump folder, made if missing). With --com N it waits for
# its link comN in the device namespace
# (${XDG_STATE_HOME:-~/.local/state}/kronex/dosdevices), otherwise it asks
# for --print-path and waits for the terminal's path. The terminal's path
# is then in $pty and the unit's pid in $unit_pid; stop_units ends it. Fails,
# with the unit's errors, when it is not up within five seconds.
kronex_units=()
start_unit() {
  local devsim=$1 dir=$2 com='' arg prev='' link='' print=(--print-path)
  shift 2
  for arg in "$@"; do
    case $prev in
    --com)
      com=$arg
      print=()
      ;;
    --dump) mkdir -p "$arg" ;;
    esac
    prev=$arg
  done
  mkdir -p "$dir"
  "$devsim" "${print[@]}" --transcript "$dir/transcript.txt" "$@" >"$dir/path" 2>"$dir/stderr" &
  unit_pid=$!
  kronex_units+=("$unit_pid:$dir")
  [ -z "$com" ] || link=${XDG_STATE_HOME:-$HOME/.local/state}/kronex/dosdevices/com$com
  pty=
  for _ in $(seq 50); do
    if [ -n "$link" ]; then
      [ -L "$link" ] && pty=$(readlink "$link")
    else
      pty=$(head -n 1 "$dir/path" 2>/dev/null || true)
    fi
    [ -n "$pty" ] && return 0
    kill -0 "$unit_pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "kronex-devsim did not start: $(cat "$dir/stderr")" >&2
  return 1
}

# stop_units: ends every unit start_unit started (SIGTERM) and waits for
# each; a unit that did not end well (another exit status than 0) is named
# with its last errors, and then it fails.
stop_units() {
  local unit pid dir got status=0
  for unit in "${kronex_units[@]}"; do
    pid=${unit%%:*} dir=${unit#*:}
    kill -TERM "$pid" 2>/dev/null || true
    got=0
    wait "$pid" || got=$?
    if [ "$got" -ne 0 ]; then
      echo "kronex-devsim in $dir ended with status $got: $(tail -n 3 "$dir/stderr" 2>/dev/null)" >&2
      status=1
    fi
  done
  kronex_units=()
  return "$status"
}

# --- Wine -----------------------------------------------------------------

WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver64

# wine_env: Windows programs run under wine in a private prefix in
# build-windows/, with no display, no debug channels and no offer to install
# Mono or Gecko. The server of the prefix in use is ended when the script
# ends.
wine_env() {
  export WINEPREFIX=$PWD/build-windows/wineprefix
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  unset DISPLAY WAYLAND_DISPLAY
  kronex_wine=1
}

# use_wine: wine_env, with the prefix made on first use (about ten seconds).
use_wine() {
  wine_env
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "Creating the wine prefix $WINEPREFIX"
    "$WINE" wineboot --init >/dev/null 2>&1
    "$WINESERVER" -w
  fi
}

# use_wine_gui: the window under wine: wine_env, an X server of our own
# (start_xvfb), and a prefix of its own made with DISPLAY set, since a
# prefix whose first wine command had no display never shows a window.
# Debian's wine does not find its own fonts, and has no Arial: its fonts go
# into the prefix and Arial is replaced by Liberation Sans (same metrics).
use_wine_gui() {
  wine_env
  start_xvfb || return 1
  export WINEPREFIX=$PWD/build-windows/wineprefix-gui
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "Creating the wine prefix $WINEPREFIX"
    timeout 120 "$WINE" wineboot --init >/dev/null 2>&1
    timeout 60 "$WINESERVER" -w
    cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
    printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n"Arial"="Liberation Sans"\r\n' \
      >"$WINEPREFIX/drive_c/arial.reg"
    timeout 60 "$WINE" regedit /S 'C:\arial.reg' >/dev/null 2>&1
    timeout 60 "$WINESERVER" -w
  fi
}

# map_ports [N=DEVICE]...: COMN on DEVICE for each one given, every other
# port from COM1 to COM16 without a device. Wine still opens such a port,
# but every call on it then fails with ERROR_INVALID_FUNCTION
# (docs/WINDOWS.md); a port wine does not know at all would be taken by the
# serial devices it finds on this machine. Wine maps COMn through
# HKLM\Software\Wine\Ports, which its mount manager turns into
# $WINEPREFIX/dosdevices/comn when the server starts (a link made by hand is
# replaced there by the ports it detects): the server is restarted and kept
# up, so that it keeps the mapping for the run, and each link is checked.
# End the server (wineserver -k) before anything waits for it to end.
map_ports() {
  local n given dev link
  {
    printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\r\n'
    for n in $(seq 1 16); do
      dev=
      for given in "$@"; do [ "${given%%=*}" != "$n" ] || dev=${given#*=}; done
      printf '"COM%d"="%s"\r\n' "$n" "$dev"
    done
  } >"$WINEPREFIX/drive_c/ports.reg"
  timeout 20 "$WINESERVER" -k 2>/dev/null || true
  timeout 60 "$WINE" reg import 'C:\ports.reg' >/dev/null 2>&1
  timeout 20 "$WINESERVER" -k 2>/dev/null || true
  "$WINESERVER" -p >/dev/null 2>&1
  timeout 60 "$WINE" cmd /c exit >/dev/null 2>&1
  for given in "$@"; do
    n=${given%%=*} dev=${given#*=}
    [ -n "$dev" ] || continue
    link=$(readlink "$WINEPREFIX/dosdevices/com$n" || true)
    if [ "$link" != "$dev" ]; then
      echo "wine did not map com$n to $dev (the link is '$link')" >&2
      return 1
    fi
  done
}

# unsigned_zip BUILD DIR: the ZIP of the cross build in BUILD made into DIR
# without a signature (a signature carries its own time), to compare bytes.
unsigned_zip() {
  (cd "$1" && env -u KRONEX_SIGN_CERT -u KRONEX_SIGN_KEY cpack -G ZIP -B "$2" >/dev/null)
}

# --- An X server and its windows ------------------------------------------

# start_xvfb: an X server of our own (Xvfb on a free display) in DISPLAY,
# its pid in XVFB_PID; stopped when the script ends.
start_xvfb() {
  local n
  for n in $(seq 91 120); do
    [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    for _ in $(seq 50); do
      [ -e "/tmp/.X11-unix/X$n" ] && break
      sleep 0.1
    done
    if kill -0 "$XVFB_PID" 2>/dev/null && [ -e "/tmp/.X11-unix/X$n" ]; then
      export DISPLAY=":$n"
      return 0
    fi
  done
  echo "could not start Xvfb" >&2
  return 1
}

# wait_window PATTERN SECONDS [BUT]: waits up to SECONDS for a visible
# window whose title matches PATTERN (an extended regular expression:
# '^Mensagem$' for that title exactly), other than the window BUT; its id
# in $win.
wait_window() {
  local deadline=$((SECONDS + $2))
  win=
  while :; do
    win=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | grep -vx -- "${3:-none}" | tail -n 1 || true)
    [ -z "$win" ] || return 0
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.2
  done
}

# wait_gone PATTERN SECONDS: waits up to SECONDS until no visible window's
# title matches PATTERN.
wait_gone() {
  local deadline=$((SECONDS + $2))
  while :; do
    xdotool search --onlyvisible --name "$1" >/dev/null 2>&1 || return 0
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.2
  done
}
