#!/usr/bin/env bash
# Every test: installs what is missing, then configures, builds and tests
#   host      unit tests, the contract suite on the in-memory registry
#   sanitize  the same under AddressSanitizer and UndefinedBehaviorSanitizer
#   fuzz      a bounded libFuzzer run of registration on hostile machines
#   windows   DLL checks, the contract suite and the scenarios under Wine
# Exits non-zero if anything fails. Build folders: build/<preset>, or
# PLG_HOST_BUILD_DIR, PLG_SANITIZE_BUILD_DIR, PLG_FUZZ_BUILD_DIR and
# PLG_WINDOWS_BUILD_DIR.
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
    failed+=("$preset")
  fi
  echo "=== $preset tests: $((SECONDS - started)) s"
done

if [[ ${#failed[@]} -gt 0 ]]; then
  echo "FAILED: tests of the ${failed[*]} build" >&2
  exit 1
fi
echo "All tests passed."
