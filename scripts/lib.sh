# Shared by scripts/test and scripts/demo: building both flavours and
# preparing a Wine prefix. Source it; it needs $root.

build_all() {
  cmake --preset windows-x86 >/dev/null
  cmake --build --preset windows-x86 -j"$(nproc)"
  cmake --preset wine-x64 >/dev/null
  cmake --build --preset wine-x64 -j"$(nproc)"
}

# wine_prefix DIR: exports the Wine settings for DIR and creates the 64-bit
# prefix there when it does not exist yet (about 15 seconds).
wine_prefix() {
  export WINEPREFIX=$1
  export WINEARCH=win64
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  export WINELOADER=/usr/lib/wine/wine64
  export WINESERVER=/usr/lib/wine/wineserver64
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "creating Wine prefix $WINEPREFIX"
    "$WINELOADER" wineboot -i >/dev/null 2>&1
    # Xvfb has no window manager: Wine then draws the window frames itself,
    # so the progress dialog shows its title.
    "$WINELOADER" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1
    "$WINESERVER" -w
  fi
}
