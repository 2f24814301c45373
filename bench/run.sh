#!/usr/bin/env bash
# The benchmarks: installs what is missing, builds what they need in the
# host and windows preset folders (build/host, build/windows, or
# PLG_HOST_BUILD_DIR and PLG_WINDOWS_BUILD_DIR), then prints one table of
# figures. No time ever fails the run; a failed check does (the floor
# leaving other entries than the module, a call that fails).
# Arguments go to bench/report.py: --cycles N, --runs N, --loads N,
# --wine-tree-max KEYS (default 100000; that case alone takes about a
# minute under Wine).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

scripts/setup.sh

host=${PLG_HOST_BUILD_DIR:-build/host}
windows=${PLG_WINDOWS_BUILD_DIR:-build/windows}
declare -A targets=(
  [host]="plg_scaling_bench plg_registry_ops plgreg"
  [windows]="plgproduct plg_cycle_driver plg_resources_only"
)
for preset in host windows; do
  dir=$host
  [[ $preset == windows ]] && dir=$windows
  mkdir -p "$dir"
  log=$dir/bench-build.log
  echo "bench: building the $preset preset in $dir" >&2
  # shellcheck disable=SC2086
  if ! { cmake --preset "$preset" -B "$dir" && cmake --build "$dir" -j"$(nproc)" \
           --target ${targets[$preset]}; } >"$log" 2>&1; then
    tail -n 40 "$log" >&2
    echo "bench: the $preset build failed; the whole log is $log" >&2
    exit 1
  fi
done

python=python3
[[ -x /usr/bin/python3 ]] && python=/usr/bin/python3
exec "$python" bench/report.py --host "$host" --windows "$windows" "$@"
