# Sourced by the scripts that run Windows programs under wine: a private
# prefix in build-windows/, no display, no debug channels, no offer to
# install Mono or Gecko.
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver64
export WINEPREFIX=$PWD/build-windows/wineprefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

# Creates the prefix on first use (about ten seconds).
wine_prefix_ready() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "Creating the wine prefix $WINEPREFIX"
    "$WINE" wineboot --init >/dev/null 2>&1
    "$WINESERVER" -w
  fi
}

# The window under wine: an X server of our own (Xvfb on a free display, its
# pid in XVFB_PID), and a prefix of its own made with DISPLAY set, since a
# prefix whose first wine command had no display never shows a window.
# Debian's wine does not find its own fonts, and has no Arial: its fonts go
# into the prefix and Arial is replaced by Liberation Sans (same metrics).
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

wine_gui_prefix_ready() {
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
