#!/usr/bin/env bash
# Signs Windows files (programs, DLLs, packages) in place with osslsigncode:
# SHA-256, and an RFC 3161 timestamp from PLG_SIGN_TIMESTAMP_URL when it is
# set. The certificate comes from the environment:
#   PLG_SIGN_PKCS12 with PLG_SIGN_PASSWORD   a PKCS#12 file and its password
#   PLG_SIGN_CERT with PLG_SIGN_KEY          a certificate and its private key
#                                            (PLG_SIGN_PASSWORD if the key is
#                                            encrypted)
#
#   sign.sh FILE...   signs each FILE
#   sign.sh --check   checks the certificate, the key and the password, and
#                     signs nothing
#   sign.sh --chain   checks them and prints the certificate (and the chain a
#                     PKCS#12 file holds) in PEM, for verifying signatures
#
# A file is replaced by its signed form only once that is complete: on a
# failure it stays as it was. Every error is one line on standard error, and
# the exit code 1. The build runs this as PLG_SIGN_TOOL
# (packaging/CMakeLists.txt), and scripts/release.sh for the package.
set -euo pipefail

fail() {
  echo "sign.sh: $*" >&2
  exit 1
}

if [[ -n ${PLG_SIGN_PKCS12:-} ]]; then
  [[ -z ${PLG_SIGN_CERT:-}${PLG_SIGN_KEY:-} ]] \
    || fail "set PLG_SIGN_PKCS12, or PLG_SIGN_CERT and PLG_SIGN_KEY, not both"
  inputs=("$PLG_SIGN_PKCS12")
  credentials=(-pkcs12 "$PLG_SIGN_PKCS12")
elif [[ -n ${PLG_SIGN_CERT:-}${PLG_SIGN_KEY:-} ]]; then
  [[ -n ${PLG_SIGN_CERT:-} && -n ${PLG_SIGN_KEY:-} ]] \
    || fail "PLG_SIGN_CERT and PLG_SIGN_KEY are set together"
  inputs=("$PLG_SIGN_CERT" "$PLG_SIGN_KEY")
  credentials=(-certs "$PLG_SIGN_CERT" -key "$PLG_SIGN_KEY")
else
  fail "no certificate: set PLG_SIGN_PKCS12 and PLG_SIGN_PASSWORD, or PLG_SIGN_CERT and PLG_SIGN_KEY"
fi
for input in "${inputs[@]}"; do
  [[ -f $input && -r $input ]] || fail "cannot read $input"
done
command -v osslsigncode >/dev/null || fail "osslsigncode is not installed (scripts/setup.sh installs it)"

# The password never goes on a command line, where other users could read it.
export PLG_SIGN_PASSWORD=${PLG_SIGN_PASSWORD-}

# The first line of osslsigncode's complaint that names the cause, for a
# one-line error: not its progress, advice or OpenSSL's error stack.
reason() {
  grep -v -e '^\s*$' -e '^Failed$' -e '^Connecting to ' -e '^Use the ' -e '^[0-9A-F]\{8,\}:' \
    <<<"$1" | head -n 1
}

# Checks the credentials; the certificates in PEM.
chain=
check() {
  if [[ -n ${PLG_SIGN_PKCS12:-} ]]; then
    chain=$(openssl pkcs12 -in "$PLG_SIGN_PKCS12" -passin env:PLG_SIGN_PASSWORD -nokeys \
            2>/dev/null) || fail "$PLG_SIGN_PKCS12: wrong password or not a PKCS#12 file"
    return
  fi
  local form
  for form in PEM DER ""; do
    [[ -n $form ]] || fail "$PLG_SIGN_CERT: not a certificate"
    chain=$(openssl x509 -inform "$form" -in "$PLG_SIGN_CERT" 2>/dev/null) && break
  done
  local key
  key=$(openssl pkey -in "$PLG_SIGN_KEY" -passin env:PLG_SIGN_PASSWORD -pubout 2>/dev/null) \
    || fail "$PLG_SIGN_KEY: wrong password or not a private key"
  [[ $(openssl x509 -noout -pubkey <<<"$chain") == "$key" ]] \
    || fail "$PLG_SIGN_KEY is not the key of $PLG_SIGN_CERT"
}

sign() {
  local file=$1 signed="$1.signing" output
  [[ -f $file ]] || fail "no file $file"
  local options=(-h sha256 -n Pellagor)
  [[ -n ${PLG_SIGN_TIMESTAMP_URL:-} ]] && options+=(-ts "$PLG_SIGN_TIMESTAMP_URL")
  rm -f "$signed"
  if ! output=$(if [[ -n $PLG_SIGN_PASSWORD ]]; then
                  osslsigncode sign "${credentials[@]}" -readpass <(printf '%s' "$PLG_SIGN_PASSWORD") \
                    "${options[@]}" -in "$file" -out "$signed"
                else
                  osslsigncode sign "${credentials[@]}" "${options[@]}" -in "$file" -out "$signed"
                fi 2>&1); then
    rm -f "$signed"
    fail "cannot sign $file: $(reason "$output")"
  fi
  mv -f "$signed" "$file"
}

[[ $# -gt 0 ]] || fail "usage: sign.sh FILE... | sign.sh --check"
check
case $1 in
  --check) exit 0 ;;
  --chain) echo "$chain"; exit 0 ;;
esac
for file in "$@"; do
  sign "$file"
done
