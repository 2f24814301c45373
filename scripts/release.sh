#!/usr/bin/env bash
# Builds the release artifacts into build/release/: plgproduct.dll,
# plgreg.exe, Pellagor-38.0.<build>-x64.msi and their SHA256SUMS, signed when
# a certificate is given (docs/releasing.md).
#
#   PLG_BUILD_NUMBER          the version's third field (default 0)
#   PLG_SIGN_PKCS12 and PLG_SIGN_PASSWORD, or PLG_SIGN_CERT and PLG_SIGN_KEY
#                             the code-signing certificate (scripts/sign.sh);
#                             without one, the artifacts are unsigned
#   PLG_SIGN_TIMESTAMP_URL    an RFC 3161 time-stamping service: needed to
#                             sign, since an untimestamped signature stops
#                             verifying when the certificate expires
#   PLG_SIGN_NO_TIMESTAMP=1   signs without a timestamp all the same (CI,
#                             which has no network)
#   PLG_RELEASE_BUILD_DIR     the build folder (default build/release-build)
#
# The windows preset, tests off, builds the package and what it packs; the
# build signs the DLL, the EXE and the installer's custom actions
# (plgsetup.dll, packed in the package's Binary table and never shipped on
# its own) before packing them (PLG_SIGN_TOOL), this script signs the
# package, writes SHA256SUMS and verifies every signature.
# build/release/ is emptied first and filled only once all of that worked.
# The last line says whether the artifacts are signed, and whether their
# signatures carry a timestamp.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

fail() {
  echo "release: $*" >&2
  exit 1
}

scripts/setup.sh

output=build/release
build=${PLG_RELEASE_BUILD_DIR:-build/release-build}
number=${PLG_BUILD_NUMBER:-0}
rm -rf "$output"

sign_tool=
if [[ -n ${PLG_SIGN_PKCS12:-}${PLG_SIGN_CERT:-}${PLG_SIGN_KEY:-} ]]; then
  if [[ -n ${PLG_SIGN_TIMESTAMP_URL:-} && ${PLG_SIGN_NO_TIMESTAMP:-} == 1 ]]; then
    fail "set PLG_SIGN_TIMESTAMP_URL or PLG_SIGN_NO_TIMESTAMP=1, not both"
  elif [[ -z ${PLG_SIGN_TIMESTAMP_URL:-} && ${PLG_SIGN_NO_TIMESTAMP:-} != 1 ]]; then
    fail "no timestamp: set PLG_SIGN_TIMESTAMP_URL to an RFC 3161 time-stamping service (signatures without a timestamp stop verifying when the certificate expires), or PLG_SIGN_NO_TIMESTAMP=1 to sign without one"
  fi
  # The build signs from its own folder: the files by their full paths.
  for variable in PLG_SIGN_PKCS12 PLG_SIGN_CERT PLG_SIGN_KEY; do
    [[ -n ${!variable:-} ]] && export "$variable=$(realpath -m "${!variable}")"
  done
  # A wrong password or certificate stops the release here, before the build.
  scripts/sign.sh --check || exit 1
  sign_tool=$PWD/scripts/sign.sh
fi

# The build cannot see which certificate signed its payload copies: they
# are made and signed afresh every time.
rm -rf "$build/payload"
mkdir -p "$build"
log=$build/release.log
echo "release: building 38.0.$number in $build (log: $log)"
if ! { cmake --preset windows -B "$build" -DPLG_BUILD_TESTS=OFF -DPLG_BUILD_NUMBER="$number" \
         -DPLG_SIGN_TOOL="$sign_tool" \
       && cmake --build "$build" -j2 --target msi; } >"$log" 2>&1; then
  signing_error=$(grep '^sign.sh: ' "$log" | tail -n 1 || true)
  fail "${signing_error:-the build failed; see $log}"
fi

package=Pellagor-38.0.$number-x64.msi
staging=$build/release-staging
rm -rf "$staging"
mkdir -p "$staging"
cp "$build/payload/plgproduct.dll" "$build/payload/plgreg.exe" "$build/$package" "$staging/"
artifacts=(plgproduct.dll plgreg.exe "$package")

if [[ -n $sign_tool ]]; then
  scripts/sign.sh "$staging/$package" || exit 1
  # Trusted for the check: the signing certificate (with its chain) and the
  # system's authorities, under which a purchased certificate's chain ends.
  trust=$staging/trust.pem
  scripts/sign.sh --chain >"$trust" || exit 1
  if [[ -f /etc/ssl/certs/ca-certificates.crt ]]; then
    cat /etc/ssl/certs/ca-certificates.crt >>"$trust"
  fi
  for artifact in "${artifacts[@]}"; do
    if ! result=$(osslsigncode verify -CAfile "$trust" -in "$staging/$artifact" 2>&1); then
      fail "the signature of $artifact does not verify: $(grep -i -m 1 'fail\|error' <<<"$result")"
    fi
    echo "release: $artifact: $(grep -m 1 'Signature verification' <<<"$result")"
  done
  # The custom actions, as the package packs them.
  if ! result=$(osslsigncode verify -CAfile "$trust" -in "$build/payload/plgsetup.dll" 2>&1); then
    fail "the signature of plgsetup.dll does not verify: $(grep -i -m 1 'fail\|error' <<<"$result")"
  fi
  echo "release: plgsetup.dll (in $package): $(grep -m 1 'Signature verification' <<<"$result")"
  rm -f "$trust"
fi

(cd "$staging" && sha256sum "${artifacts[@]}" >SHA256SUMS)
mv "$staging" "$output"
cat "$output/SHA256SUMS"
if [[ -n $sign_tool && -n ${PLG_SIGN_TIMESTAMP_URL:-} ]]; then
  echo "release: $output: ${artifacts[*]} signed, timestamped and verified, and SHA256SUMS"
elif [[ -n $sign_tool ]]; then
  echo "release: $output: ${artifacts[*]} signed and verified, and SHA256SUMS; the signatures carry NO TIMESTAMP (PLG_SIGN_NO_TIMESTAMP=1) and stop verifying when the certificate expires"
else
  echo "release: $output: ${artifacts[*]} and SHA256SUMS, UNSIGNED (no PLG_SIGN_PKCS12 or PLG_SIGN_CERT given)"
fi
