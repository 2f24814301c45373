#!/usr/bin/env bash
# Every test: installs what is missing, then configures, builds and tests
#   host      unit tests, the contract suite on the in-memory registry
#   sanitize  the same under AddressSanitizer and UndefinedBehaviorSanitizer
#   fuzz      a bounded libFuzzer run of registration on hostile machines
#   windows   DLL checks, the contract suite and the scenarios under Wine
# and then checks the release:
#   reproducibility  two builds of HEAD in two folders give the same bytes
#   signed release   scripts/release.sh with a throwaway certificate, the
#                    signatures checked against it, the package installed
#                    under Wine
# Exits non-zero if anything fails. Build folders: build/<preset>, or
# PLG_HOST_BUILD_DIR, PLG_SANITIZE_BUILD_DIR, PLG_FUZZ_BUILD_DIR and
# PLG_WINDOWS_BUILD_DIR; build/reproduce, build/release-build and
# build/release for the release.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

scripts/setup.sh

declare -A build_dirs=(
  [host]=${PLG_HOST_BUILD_DIR:-build/host}
  [sanitize]=${PLG_SANITIZE_BUILD_DIR:-build/sanitize}
  [fuzz]=${PLG_FUZZ_BUILD_DIR:-build/fuzz}
  [windows]=${PLG_WINDOWS_BUILD_DIR:-build/windows}
)
failed=()
for preset in host sanitize fuzz windows; do
  dir=${build_dirs[$preset]}
  echo "=== $preset build in $dir"
  configure=()
  # The Wine comparison with plgreg runs the host build's plgreg.
  [[ $preset == windows ]] && configure+=("-DPLG_HOST_PLGREG=$(realpath -m "${build_dirs[host]}")/tools/plgreg/plgreg")
  cmake --preset "$preset" -B "$dir" "${configure[@]}" >/dev/null
  cmake --build "$dir" -j2
  started=$SECONDS
  if ! ctest --test-dir "$dir" --output-on-failure --timeout 600 -j2; then
    failed+=("$preset tests")
  fi
  echo "=== $preset tests: $((SECONDS - started)) s"
done

# The signed round trip: no timestamp and a wrong password each stop
# release.sh with one line and no build/release; the right password, with
# PLG_SIGN_NO_TIMESTAMP=1 (CI has no time-stamping service), gives artifacts
# whose signatures verify against the throwaway certificate, a last line
# that says they carry no timestamp, and a package that the Wine scenario
# msi_install installs, checking that it installs the signed files.
signed_release() {
  local keys=build/ci-signing wine=build/release-wine error
  rm -rf "$keys" "$wine"
  mkdir -p "$keys"
  openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=Pellagor CI throwaway" \
    -addext extendedKeyUsage=codeSigning -keyout "$keys/key.pem" -out "$keys/cert.pem" 2>/dev/null
  openssl pkcs12 -export -inkey "$keys/key.pem" -in "$keys/cert.pem" -passout pass:throwaway \
    -out "$keys/cert.p12"
  export PLG_SIGN_PKCS12=$keys/cert.p12
  unset PLG_SIGN_TIMESTAMP_URL PLG_SIGN_NO_TIMESTAMP
  if error=$(PLG_SIGN_PASSWORD=throwaway scripts/release.sh 2>&1 >/dev/null) \
     || [[ $(wc -l <<<"$error") -ne 1 || $error != *timestamp* || -e build/release ]]; then
    echo "release.sh without a timestamp: expected one line of error naming the timestamp" \
         "and no build/release, got: $error" >&2
    return 1
  fi
  echo "no timestamp: $error"
  export PLG_SIGN_NO_TIMESTAMP=1
  if error=$(PLG_SIGN_PASSWORD=wrong scripts/release.sh 2>&1 >/dev/null) \
     || [[ $(wc -l <<<"$error") -ne 1 || -e build/release ]]; then
    echo "release.sh with a wrong password: expected one line of error and no build/release," \
         "got: $error" >&2
    return 1
  fi
  echo "wrong password: $error"
  PLG_SIGN_PASSWORD=throwaway scripts/release.sh | tee "$keys/release.out" || return 1
  if [[ $(tail -n 1 "$keys/release.out") != *"NO TIMESTAMP"* ]]; then
    echo "release.sh with PLG_SIGN_NO_TIMESTAMP=1: the last line does not say NO TIMESTAMP" >&2
    return 1
  fi
  local artifacts=(build/release/plgproduct.dll build/release/plgreg.exe build/release/*.msi)
  local result
  for artifact in "${artifacts[@]}"; do
    result=$(osslsigncode verify -CAfile "$keys/cert.pem" -in "$artifact") || return 1
    echo "osslsigncode verify ${artifact##*/}: $(grep -m 1 -o 'Subject: .*' <<<"$result")," \
         "$(grep -m 1 'Signature verification' <<<"$result")"
  done
  (cd build/release && sha256sum -c SHA256SUMS) || return 1
  /usr/bin/python3 tests/wine/scenarios.py template "$wine/template" \
    && /usr/bin/python3 tests/wine/scenarios.py scenario msi_install --template "$wine/template" \
         --work "$wine" --dll "${artifacts[0]}" --tool "${artifacts[1]}" --msi "${artifacts[2]}" \
         --exit-code "${build_dirs[windows]}/tests/wine/exit_code.exe"
}

started=$SECONDS
echo "=== reproducibility"
scripts/check-reproducible.sh || failed+=("reproducibility")
echo "=== reproducibility: $((SECONDS - started)) s"
started=$SECONDS
echo "=== signed release"
(signed_release) || failed+=("signed release")
echo "=== signed release: $((SECONDS - started)) s"

if [[ ${#failed[@]} -gt 0 ]]; then
  printf -v list '%s, ' "${failed[@]}"
  echo "FAILED: ${list%, }" >&2
  exit 1
fi
echo "All tests passed."
