# Shared by scripts/setup, scripts/test and scripts/demo: which build runs
# under Wine here, and building a tree. Source it; the build functions need
# $root.

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

# The preset (configure, build and test) of the tree whose programs run
# under Wine, and the folder of a preset's tree (CMakePresets.json).
test_preset() {
  if [ "$1" = x86 ]; then echo wine-x86; else echo wine-x64; fi
}
preset_dir() {
  case $1 in
    windows-x86) echo "$root/build/x86" ;;
    wine-x86) echo "$root/build/x86-tests" ;;
    wine-x64) echo "$root/build/wine-x64" ;;
  esac
}

# build PRESET [TARGET...]: configures the preset's tree and builds it, all
# of it or the targets given. A tree that another generator made (before the
# presets named Ninja) is configured afresh.
build() {
  local preset=$1 cache fresh=()
  shift
  cache="$(preset_dir "$preset")/CMakeCache.txt"
  if [ -f "$cache" ] && ! grep -qx 'CMAKE_GENERATOR:INTERNAL=Ninja' "$cache"; then
    fresh=(--fresh)
  fi
  cmake --preset "$preset" "${fresh[@]}" >/dev/null
  cmake --build --preset "$preset" -j"$(nproc)" ${1:+--target "$@"}
}

# Says, once per run, which build the tests or the demo execute.
announce_flavour() {
  if [ "$1" = x86 ]; then
    echo "wine: running the 32-bit build in the WOW64 prefix"
  else
    echo "wine: this machine cannot run 32-bit programs: the shipped 32-bit build was built and inspected but not executed; running the 64-bit build (build/wine-x64) instead"
  fi
}
