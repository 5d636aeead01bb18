#!/usr/bin/env bash
# Checks KelvoUpgradeHelperInstaller.msi as an admin's tools would show it:
# per-user, the product's identity and version, the helper started by a
# custom action after InstallFinalize (not on removal, not waited for, as the
# installing user) with the package's switches, and its signature.
# usage: check-package.sh PACKAGE HELPER_BUILD_NUMBER SIGNING_KIT_DIR
set -euo pipefail
[ $# -eq 3 ] || { echo "usage: check-package.sh PACKAGE HELPER_BUILD_NUMBER SIGNING_KIT_DIR" >&2; exit 2; }
package=$1 build_number=$2 kit=$3
# The helper's file version is its build number (yy.mm.ddhh.mmss); the
# package carries the same four numbers without leading zeros.
IFS=. read -r yy mm ddhh mmss <<<"$build_number"
expected_version="$((10#$yy)).$((10#$mm)).$((10#$ddhh)).$((10#$mmss))"

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
expect_eq() { # what actual expected
  if [ "$2" = "$3" ]; then echo "ok:   $1 = $2"; else fail "$1: '$2', expected '$3'"; fi
}

tables=$(mktemp -d)
trap 'rm -rf "$tables"' EXIT
msidump -d "$tables" "$package" >/dev/null
# One row of an exported table (tab-separated, three header lines) by key.
row() { tail -n +4 "$tables/$1.idt" | tr -d '\r' | awk -F'\t' -v key="$2" '$1 == key'; }
field() { row "$1" "$2" | cut -f"$3"; }

expect_eq ProductName "$(field Property ProductName 2)" "Orvane Upgrade Helper"
expect_eq Manufacturer "$(field Property Manufacturer 2)" "Orvane, Inc."
expect_eq UpgradeCode "$(field Property UpgradeCode 2)" "{F2CB1283-CF1A-46EE-98C9-EEFF071818D0}"
expect_eq ProductVersion "$(field Property ProductVersion 2)" "$expected_version"
product_code=$(field Property ProductCode 2)
[[ $product_code =~ ^\{[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\}$ ]] || fail "ProductCode '$product_code'"

# Per user: no ALLUSERS, and the summary's word count says no elevation is
# needed (bit 8), compressed (bit 2).
[ -z "$(row Property ALLUSERS)" ] || fail "ALLUSERS is set: $(row Property ALLUSERS)"
word_count=$(msiinfo suminfo "$package" | sed -n 's/^Source: \([0-9]*\).*/\1/p')
if [ -n "$word_count" ] && (( (word_count & 8) && (word_count & 2) )); then
  echo "ok:   word count $word_count (per user, compressed)"
else
  fail "word count '$word_count' lacks the per-user bit 8 or the compressed bit 2"
fi

# The helper goes to %LOCALAPPDATA%\Orvane\Upgrade Helper\.
# Each long name that is not 8.3 itself comes with a short one (ICE03).
expect_eq "helper's folder" "$(row Directory HelperFolder | cut -f2,3)" "$(printf 'OrvaneFolder\tUPGRADEH|Upgrade Helper')"
expect_eq "Orvane folder" "$(row Directory OrvaneFolder | cut -f2,3)" "$(printf 'LocalAppDataFolder\tOrvane')"
expect_eq "helper file" "$(field File OrvaneUpgradeHelperExe 3)" "ORVANEUP.EXE|OrvaneUpgradeHelper.exe"

# Programs and Features: no Change button, and whom to ask.
expect_eq ARPNOMODIFY "$(field Property ARPNOMODIFY 2)" 1
[ -n "$(field Property ARPCONTACT 2)" ] || fail "no ARPCONTACT"
[[ $(field Property ARPHELPLINK 2) == https://* ]] || fail "ARPHELPLINK '$(field Property ARPHELPLINK 2)'"

# Installed by the user it repairs: refused for a machine-wide install and
# for the LocalSystem account (Wine's msiexec cannot run as LocalSystem:
# this row is what Windows evaluates, with UserSID S-1-5-18 there).
expect_eq "per-user condition" \
  "$(field LaunchCondition 'Installed OR NOT ALLUSERS OR (ALLUSERS = 2 AND MSIINSTALLPERUSER = 1)' 1)" \
  "Installed OR NOT ALLUSERS OR (ALLUSERS = 2 AND MSIINSTALLPERUSER = 1)"
expect_eq "LocalSystem condition" "$(field LaunchCondition 'Installed OR UserSID <> "S-1-5-18"' 1)" \
  'Installed OR UserSID <> "S-1-5-18"'
[ -n "$(field InstallExecuteSequence LaunchConditions 3)" ] || fail "LaunchConditions is not sequenced"

# Type 210 = 18 (program from an installed file) + 192 (asynchronous, not
# waited for); no 2048 (no-impersonate) bit, no deferred (1024) bit.
expect_eq "start action type" "$(field CustomAction StartUpgradeHelper 2)" 210
expect_eq "start action file" "$(field CustomAction StartUpgradeHelper 3)" OrvaneUpgradeHelperExe
expect_eq "start action command" "$(field CustomAction StartUpgradeHelper 4)" \
  "-msiInteractive: [HelperInteractive] -kuhMSIProdCode: [ProductCode]"
# Type 51 sets a property; the default is False.
expect_eq "interactive action" "$(field CustomAction SetHelperInteractive 2),$(field CustomAction SetHelperInteractive 3),$(field CustomAction SetHelperInteractive 4)" \
  "51,HelperInteractive,True"
expect_eq "interactive default" "$(field Property HelperInteractive 2)" False

finalize=$(field InstallExecuteSequence InstallFinalize 3)
start=$(field InstallExecuteSequence StartUpgradeHelper 3)
interactive=$(field InstallExecuteSequence SetHelperInteractive 3)
remove_existing=$(field InstallExecuteSequence RemoveExistingProducts 3)
initialize=$(field InstallExecuteSequence InstallInitialize 3)
expect_eq "start condition" "$(field InstallExecuteSequence StartUpgradeHelper 2)" "NOT REMOVE AND (NOT Installed OR REINSTALL)"
expect_eq "interactive condition" "$(field InstallExecuteSequence SetHelperInteractive 2)" "UILevel = 5"
if [ -n "$start" ] && [ -n "$interactive" ] && (( finalize < interactive && interactive < start )); then
  echo "ok:   InstallFinalize $finalize < SetHelperInteractive $interactive < StartUpgradeHelper $start"
else
  fail "sequence: InstallFinalize '$finalize', SetHelperInteractive '$interactive', StartUpgradeHelper '$start'"
fi
# The older release is removed before this one installs.
if [ -n "$remove_existing" ] && (( remove_existing < initialize )); then
  echo "ok:   RemoveExistingProducts $remove_existing < InstallInitialize $initialize"
else
  fail "RemoveExistingProducts '$remove_existing' not before InstallInitialize '$initialize'"
fi
# Older releases, up to this one's first three fields (the only ones Windows
# Installer compares), are removed; a newer one only detected (attributes
# 258: detect only, minimum inclusive) and refused by the launch condition.
upgrade_row() { tail -n +4 "$tables/Upgrade.idt" | tr -d '\r' | awk -F'\t' -v property="$1" '$7 == property'; }
IFS=. read -r major minor build _ <<<"$expected_version"
limit="$major.$minor.$((build + 1))"
expect_eq "older releases" "$(upgrade_row OLDER_HELPER_FOUND | cut -f2,3,5)" "$(printf '0.0.0\t%s\t256' "$limit")"
expect_eq "newer releases" "$(upgrade_row NEWER_HELPER_FOUND | cut -f2,3,5)" "$(printf '%s\t\t258' "$limit")"
expect_eq "downgrade guard" "$(field LaunchCondition 'NOT NEWER_HELPER_FOUND' 1)" "NOT NEWER_HELPER_FOUND"

# Signed by "Orvane, Inc." (the kit's chain: its root must verify it).
if osslsigncode verify -CAfile "$kit/ca.pem" -in "$package" >"$tables/verify.txt" 2>&1; then
  echo "ok:   signature verifies against the kit's root"
else
  fail "signature does not verify: $(cat "$tables/verify.txt")"
fi
grep -q 'Subject:.*CN *= *Orvane, Inc\.' "$tables/verify.txt" || grep -q 'CN=Orvane, Inc\.' "$tables/verify.txt" ||
  fail "signer is not Orvane, Inc.: $(grep -i subject "$tables/verify.txt" | head -n 3)"

if [ $failures -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all checks passed"
