# Shared by scripts/setup, scripts/test and scripts/demo: which build runs
# under Wine here, building it, and preparing a Wine prefix. Source it; the
# build and prefix functions need $root.

# Whether this machine executes 32-bit (i386) Linux programs. Machines of our
# kind differ here, and Wine's 32-bit side needs it. Decided by running one: a
# 93-byte static i386 program that only exits with code 0.
can_run_32bit() {
  local probe code
  probe=$(mktemp)
  printf '\177\105\114\106\001\001\001\000\000\000\000\000\000\000\000\000\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010\135\000\000\000\135\000\000\000\005\000\000\000\000\020\000\000\061\333\270\001\000\000\000\315\200' >"$probe"
  chmod +x "$probe"
  code=0
  "$probe" >/dev/null 2>&1 || code=$?
  rm -f "$probe"
  return $code
}

# The build that runs under Wine: "x86", the shipped 32-bit helper in the
# WOW64 prefix, wherever Wine's 32-bit side is installed and can run; "x64",
# the same sources built for 64-bit, elsewhere.
wine_flavour() {
  if [ -x /usr/lib/wine/wine ] && can_run_32bit; then echo x86; else echo x64; fi
}

# The build folder whose tests run under Wine, for a flavour.
flavour_build_dir() {
  if [ "$1" = x86 ]; then echo "$root/build/x86"; else echo "$root/build/wine-x64"; fi
}

# build_all FLAVOUR: the shipped 32-bit helper is always built, with its test
# programs (so that they compile for 32-bit everywhere); the 64-bit build
# only where it is the one that runs.
build_all() {
  cmake --preset windows-x86 -DREMEDION_BUILD_TESTS=ON >/dev/null
  cmake --build --preset windows-x86 -j"$(nproc)"
  if [ "$1" = x64 ]; then
    cmake --preset wine-x64 >/dev/null
    cmake --build --preset wine-x64 -j"$(nproc)"
  fi
}

# Says, once per run, which build the tests or the demo execute.
announce_flavour() {
  if [ "$1" = x86 ]; then
    echo "wine: running the shipped 32-bit build (build/x86) in the WOW64 prefix"
  else
    echo "wine: this machine cannot run 32-bit programs: the shipped 32-bit build was built and inspected but not executed; running the 64-bit build (build/wine-x64) instead"
  fi
}

# Settings every prefix gets; the stamp's number changes when they do.
readonly PREFIX_SETTINGS_STAMP=remedion-settings-3

# wine_prefix DIR FLAVOUR: exports the Wine settings for DIR and the loader
# for FLAVOUR, and creates the 64-bit (WOW64) prefix there when it does not
# exist yet (about 15 seconds).
wine_prefix() {
  export WINEPREFIX=$1
  export WINEARCH=win64
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  export WINESERVER=/usr/lib/wine/wineserver64
  if [ "${2:-x64}" = x86 ]; then
    export WINELOADER=/usr/lib/wine/wine
  else
    export WINELOADER=/usr/lib/wine/wine64
  fi
  local wine64=/usr/lib/wine/wine64
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "creating Wine prefix $WINEPREFIX"
    "$wine64" wineboot -i >/dev/null 2>&1
  fi
  if [ ! -f "$WINEPREFIX/$PREFIX_SETTINGS_STAMP" ]; then
    # Xvfb has no window manager: Wine then draws the window frames itself,
    # so the progress dialog shows its title.
    "$wine64" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1
    # No crash debugger: a crashing program would wait in winedbg until its
    # test timed out, or be ended by it with exit code 0. Wine starts
    # winedbg when no debugger is named, so one is named that exists nowhere:
    # the crash then ends its program at once with the exception's code.
    local aedebug='HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug'
    local view
    for view in /reg:64 /reg:32; do
      "$wine64" reg add "$aedebug" /v Debugger /d no-crash-debugger /f "$view" >/dev/null 2>&1
    done
    "$wine64" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
    "$WINESERVER" -w
    touch "$WINEPREFIX/$PREFIX_SETTINGS_STAMP"
  fi
}
