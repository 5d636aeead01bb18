#!/usr/bin/env bash
# A release configure (-DREMEDION_RELEASE=ON) refuses to run without the
# maker's inputs, naming each one that is missing and no other, so that a
# release can never fall back to the payload kit's installers or key.
# Configure only, in fresh folders: the inputs are small stand-in files, since
# configure checks only that they exist.
# usage: check-release-inputs.sh CMAKE SOURCE_DIR TOOLCHAIN_FILE
set -euo pipefail
[ $# -eq 3 ] || { echo "usage: check-release-inputs.sh CMAKE SOURCE_DIR TOOLCHAIN_FILE" >&2; exit 2; }
cmake=$1 source=$2 toolchain=$3

inputs=(REMEDION_PAYLOAD_120 REMEDION_PAYLOAD_122 REMEDION_PAYLOAD_133
  REMEDION_RELEASE_SIGNING_CERT REMEDION_RELEASE_SIGNING_KEY REMEDION_TIMESTAMP_URL)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/inputs"
declare -A value=(
  [REMEDION_PAYLOAD_120]=$work/inputs/setup_client_22.7.2.exe
  [REMEDION_PAYLOAD_122]=$work/inputs/launcher_22.7.2.msi
  [REMEDION_PAYLOAD_133]=$work/inputs/setup_client_22.7.3.exe
  [REMEDION_RELEASE_SIGNING_CERT]=$work/inputs/chain.pem
  [REMEDION_RELEASE_SIGNING_KEY]=$work/inputs/key.pem
  [REMEDION_TIMESTAMP_URL]=http://timestamp.invalid/rfc3161
)
for name in "${inputs[@]}"; do
  [ "$name" = REMEDION_TIMESTAMP_URL ] || : >"${value[$name]}"
done

# all_but NAME: the -D arguments of every input except NAME.
all_but() {
  local name
  for name in "${inputs[@]}"; do
    [ "$name" = "$1" ] || printf '%s\n' "-D$name=${value[$name]}"
  done
}

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# release_configure NAME ARGS...: a release configure in a fresh folder that
# must fail; its output is left in $work/NAME.log.
release_configure() {
  local name=$1
  shift
  if "$cmake" -S "$source" -B "$work/$name" --toolchain "$toolchain" \
      -DREMEDION_RELEASE=ON "$@" >"$work/$name.log" 2>&1; then
    fail "$name: configure succeeded"
  else
    echo "ok:   $name: configure refused"
  fi
  rm -rf "${work:?}/$name"
}

# expect_named LOG NAMES...: of the inputs, the log names exactly these
# (given in the order of $inputs).
expect_named() {
  local log=$1 name named=()
  shift
  for name in "${inputs[@]}"; do
    if grep -qw -- "$name" "$log"; then named+=("$name"); fi
  done
  if [ "${named[*]}" = "$*" ]; then
    echo "ok:   $(basename "$log" .log): names ${named[*]}"
  else
    fail "$(basename "$log" .log): names '${named[*]}', expected '$*'"
  fi
}

release_configure nothing_given
expect_named "$work/nothing_given.log" "${inputs[@]}"

mapfile -t args < <(all_but REMEDION_RELEASE_SIGNING_KEY)
release_configure key_not_given "${args[@]}"
expect_named "$work/key_not_given.log" REMEDION_RELEASE_SIGNING_KEY

# Given, but not a file: a path that names nothing, and a folder.
mapfile -t args < <(all_but none)
release_configure no_such_files "${args[@]}" \
  "-DREMEDION_PAYLOAD_122=$work/inputs/nothing_here.msi" "-DREMEDION_RELEASE_SIGNING_CERT=$work/inputs"
expect_named "$work/no_such_files.log" REMEDION_PAYLOAD_122 REMEDION_RELEASE_SIGNING_CERT

if [ $failures -ne 0 ]; then
  echo "$failures check(s) failed; the configure runs said:"
  tail -n +1 "$work"/*.log
  exit 1
fi
echo "all checks passed"
