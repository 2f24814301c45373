#!/usr/bin/env bash
# Builds plgproduct.dll, plgreg.exe and the package twice from one commit, in
# two clones in different folders and at two different times (one build
# after the other), and compares each artifact byte for byte (cmp). Prints
# the two builds' SHA-256 sums side by side and, for an artifact that
# differs, how many bytes do; exits 1 if any artifact differs.
#
#   scripts/check-reproducible.sh [COMMIT]    (default HEAD)
#
# The clones go to build/reproduce/ (PLG_REPRODUCE_DIR); PLG_BUILD_NUMBER and
# SOURCE_DATE_EPOCH reach both builds alike. Unsigned: a signature holds its
# own signing time.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

commit=$(git rev-parse --verify "${1:-HEAD}^{commit}")
work=${PLG_REPRODUCE_DIR:-build/reproduce}
rm -rf "$work"
mkdir -p "$work"
work=$(realpath "$work")
number=${PLG_BUILD_NUMBER:-0}
artifacts=(registrar/plgproduct.dll tools/plgreg/plgreg.exe "Pellagor-38.0.$number-x64.msi")

# Folder names of different lengths: a build path that leaked into an
# artifact would show.
clones=("$work/one" "$work/the-second-clone")
for clone in "${clones[@]}"; do
  git clone --quiet --shared --no-checkout . "$clone"
  git -C "$clone" checkout --quiet --detach "$commit"
  echo "=== build of ${commit:0:12} in $clone, $(date -u '+%Y-%m-%d %H:%M:%S') UTC"
  if ! (cd "$clone" \
        && cmake --preset windows -B build -DPLG_BUILD_TESTS=OFF -DPLG_BUILD_NUMBER="$number" \
        && cmake --build build -j2 --target msi) >"$clone.log" 2>&1; then
    echo "check-reproducible: the build in $clone failed; see $clone.log" >&2
    exit 1
  fi
done

different=0
printf '%-28s %-64s %s\n' artifact "SHA-256 in ${clones[0]##*/}" "SHA-256 in ${clones[1]##*/}"
for artifact in "${artifacts[@]}"; do
  one=${clones[0]}/build/$artifact two=${clones[1]}/build/$artifact
  verdict=identical
  if ! cmp -s "$one" "$two"; then
    verdict="DIFFERENT: $( (cmp -l "$one" "$two" 2>/dev/null || true) | wc -l) bytes differ"
    [[ $(stat -c %s "$one") == $(stat -c %s "$two") ]] || verdict+=", and the sizes"
    different=$((different + 1))
  fi
  printf '%-28s %s %s %s\n' "${artifact##*/}" "$(sha256sum <"$one" | cut -c1-64)" \
    "$(sha256sum <"$two" | cut -c1-64)" "$verdict"
done
if [[ $different -gt 0 ]]; then
  echo "check-reproducible: $different of ${#artifacts[@]} artifacts differ between the two builds" >&2
  exit 1
fi
echo "check-reproducible: all ${#artifacts[@]} artifacts are byte-identical"
