#!/usr/bin/env bash
# Signs a PE or MSI file with one signer of the development kit (see
# make-signing-kit.sh): Authenticode, SHA-256, the CA embedded with the leaf.
# No timestamp: the build has no network.
set -euo pipefail
# The signature's program name is NAME, or the output's file name.
if [ $# -lt 4 ] || [ $# -gt 5 ]; then
  echo "usage: sign-file.sh KIT_DIR SIGNER_ID INPUT OUTPUT [NAME]" >&2
  exit 2
fi
kit=$1 signer=$2 input=$3 output=$4 name=${5:-$(basename "$4")}
[ -f "$kit/$signer.key" ] || { echo "sign-file.sh: no signer '$signer' in $kit" >&2; exit 1; }
mkdir -p "$(dirname "$output")"
rm -f "$output" "$output.tmp"
osslsigncode sign -certs "$kit/$signer-chain.pem" -key "$kit/$signer.key" \
  -h sha256 -n "$name" -in "$input" -out "$output.tmp" >/dev/null
mv "$output.tmp" "$output"
