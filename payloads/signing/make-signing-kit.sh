#!/usr/bin/env bash
# Makes the throwaway development signing kit in DIR: a root CA and one
# code-signing certificate per signer id, each leaf stored with the chain
# (leaf, then CA) that osslsigncode embeds. The keys live in the build tree
# only and are made afresh whenever the kit is rebuilt.
#
# Signer ids and the simple display names (CN) of their certificates:
#   tessaly             "Tessaly, LLC"
#   quarnel             "Quarnel Networks, Inc."
#   orvane              "Orvane, Inc."
#   tessaly_no_comma    "Tessaly LLC"     (near miss, for tests)
#   tessaly_lower_case  "tessaly, llc"    (near miss, for tests)
set -euo pipefail
dir=${1:?usage: make-signing-kit.sh DIR}
mkdir -p "$dir"
cd "$dir"
umask 077

signers=(
  "tessaly|Tessaly, LLC"
  "quarnel|Quarnel Networks, Inc."
  "orvane|Orvane, Inc."
  "tessaly_no_comma|Tessaly LLC"
  "tessaly_lower_case|tessaly, llc"
)

openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650 \
  -keyout ca.key -out ca.pem \
  -subj "/O=Remedion Development/CN=Remedion Development Root CA" \
  -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null

cat > leaf.ext <<'EXT'
basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature
extendedKeyUsage=codeSigning
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid,issuer
EXT

serial=1000
for entry in "${signers[@]}"; do
  id=${entry%%|*}
  name=${entry#*|}
  serial=$((serial + 1))
  openssl req -new -newkey rsa:2048 -nodes -sha256 \
    -keyout "$id.key" -out "$id.csr" -subj "/CN=$name" 2>/dev/null
  openssl x509 -req -in "$id.csr" -CA ca.pem -CAkey ca.key -set_serial "$serial" \
    -days 3650 -sha256 -extfile leaf.ext -out "$id.pem" 2>/dev/null
  cat "$id.pem" ca.pem > "$id-chain.pem"
  rm -f "$id.csr"
done
rm -f leaf.ext
# Stamp last, so that an interrupted run is not mistaken for a kit.
touch kit.stamp
