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

# How many copies of the test prefix the tests that install components
# into the prefix user's profile share out (tests/CMakeLists.txt assigns
# each such test a lane; scripts/wine-run runs it in that lane's copy).
readonly PREFIX_LANES=4

# The shipped helper's build: 32-bit, with its package, never with tests.
shipped_build_dir() { echo "$root/build/x86"; }

# The tree whose test programs run under Wine, for a flavour, and its preset.
test_preset() {
  if [ "$1" = x86 ]; then echo wine-x86; else echo wine-x64; fi
}
flavour_build_dir() {
  if [ "$1" = x86 ]; then echo "$root/build/x86-tests"; else echo "$root/build/wine-x64"; fi
}

# The shipped helper and its package; everywhere, whether or not this
# machine can run them (tools/check_pe.py inspects the helper).
build_shipped() {
  cmake --preset windows-x86 >/dev/null
  cmake --build --preset windows-x86 -j"$(nproc)"
}

# build_tests FLAVOUR [TARGET...]: the flavour's test tree, all of it or the
# targets given.
build_tests() {
  local preset
  preset=$(test_preset "$1")
  shift
  cmake --preset "$preset" -DREMEDION_PREFIX_LANES="$PREFIX_LANES" >/dev/null
  if [ $# -gt 0 ]; then
    cmake --build --preset "$preset" -j"$(nproc)" --target "$@"
  else
    cmake --build --preset "$preset" -j"$(nproc)"
  fi
}

# Says, once per run, which build the tests or the demo execute.
announce_flavour() {
  if [ "$1" = x86 ]; then
    echo "wine: running the 32-bit build in the WOW64 prefix"
  else
    echo "wine: this machine cannot run 32-bit programs: the shipped 32-bit build was built and inspected but not executed; running the 64-bit build (build/wine-x64) instead"
  fi
}

# wine_prefix DIR FLAVOUR: exports the Wine settings for DIR and the loader
# for FLAVOUR, and creates the 64-bit (WOW64) prefix there when it does not
# exist yet (about 15 seconds; scripts/wine-prefix).
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
  "$root/scripts/wine-prefix" "$WINEPREFIX"
}

# prefix_lanes BASE: a fresh copy of BASE for each lane, BASE-lane<n>. The
# base's wine server is stopped first, so that its registry is on disk.
prefix_lanes() {
  local base=$1 lane
  WINEPREFIX=$base "$WINESERVER" -k 2>/dev/null || true
  for lane in $(seq 1 "$PREFIX_LANES"); do
    WINEPREFIX=$base-lane$lane "$WINESERVER" -k 2>/dev/null || true
    rm -rf "$base-lane$lane"
    cp -a "$base" "$base-lane$lane"
  done
}

# test_servers start|stop BASE: one persistent wine server for the base
# prefix and for each lane, for the whole test run.
test_servers() {
  local action=$1 base=$2 prefix
  for prefix in "$base" $(seq -f "$base-lane%g" 1 "$PREFIX_LANES"); do
    if [ "$action" = start ]; then
      # A server an earlier run left is used as it is (-p then ends with 2).
      WINEPREFIX=$prefix "$WINESERVER" -p || true
    else
      WINEPREFIX=$prefix "$WINESERVER" -k 2>/dev/null || true
    fi
  done
}
