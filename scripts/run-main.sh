#!/usr/bin/env bash
# The main job: installs what is missing, builds the DLL, boots a fresh Wine
# prefix with the shared modelling system installed (machine/images), runs
# `wine regsvr32 /s` on the DLL and prints what it wrote under the product's
# keys. The prefix stays in build/windows/main-prefix for a closer look.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

scripts/setup.sh

cmake --preset windows >/dev/null
cmake --build --preset windows --target plgproduct -j2
dll=build/windows/registrar/plgproduct.dll
[[ -f $dll ]] || { echo "run-main: $dll was not built" >&2; exit 1; }

exec /usr/bin/python3 tests/wine/scenarios.py main --dll "$dll" --prefix build/windows/main-prefix
