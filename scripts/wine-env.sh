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
