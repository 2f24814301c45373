#!/usr/bin/env bash
# Installs what the builds and tests need on Debian (run as root). Does
# nothing when everything is there; refreshes the package lists only when a
# package is missing and apt cannot find it.
set -euo pipefail

packages=(
  cmake ninja-build g++ libgtest-dev googletest   # host build and unit tests
  g++-mingw-w64-x86-64-posix                       # windows build
  wine64 wine                                      # the DLL and its tests under Wine
  python3 python3-pefile                           # test drivers, DLL checks
  xvfb xdotool imagemagick                         # the error box on a screen, under Wine
  libcli11-dev nlohmann-json3-dev libexpat1-dev    # plgreg and its tests
  clang libclang-rt-14-dev                         # fuzzer and sanitizer runtimes
  libbenchmark-dev                                 # bench/ (Google Benchmark)
  wixl msitools python3-olefile                    # the Windows Installer package
  osslsigncode openssl                             # signing the release artifacts
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
if [[ ${#missing[@]} -eq 0 ]]; then
  exit 0
fi
if [[ $(id -u) -ne 0 ]]; then
  echo "setup: missing packages (${missing[*]}); run as root to install them" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
log=$(mktemp)
trap 'rm -f "$log"' EXIT

needs_update=false
for package in "${missing[@]}"; do
  candidate=$(apt-cache policy "$package" 2>/dev/null | sed -n 's/^ *Candidate: //p')
  if [[ -z $candidate || $candidate == "(none)" ]]; then
    needs_update=true
    break
  fi
done
if $needs_update; then
  echo "setup: apt-get update"
  apt-get update -qq >"$log" 2>&1 || { cat "$log" >&2; exit 1; }
fi

echo "setup: installing ${missing[*]}"
if ! apt-get install -y -qq "${missing[@]}" >"$log" 2>&1; then
  # A stale package list names files the mirror no longer has.
  echo "setup: install failed; refreshing package lists and retrying"
  apt-get update -qq >>"$log" 2>&1 && apt-get install -y -qq "${missing[@]}" >>"$log" 2>&1 \
    || { cat "$log" >&2; exit 1; }
fi
echo "setup: done"
