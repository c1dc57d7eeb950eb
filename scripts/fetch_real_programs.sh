#!/bin/bash
# Fetches real 32-bit Windows programs built with Delphi into
# third_party_samples/ (ignored by git) for the tests that run the plug-ins
# on real programs. The setup stubs and compilers of an installer builder,
# as published in the npm registry, are such programs.
set -euo pipefail
cd "$(dirname "$0")/.."

dest=third_party_samples
mkdir -p "$dest"
command -v npm >/dev/null || { echo "fetch_real_programs: npm is not installed" >&2; exit 1; }

fetch() {
  local version=$1 dir="$dest/installer-$1"
  [[ -f "$dir/Setup.e32" ]] && return 0
  local tmp
  tmp=$(mktemp -d)
  (cd "$tmp" && npm pack --silent "innosetup-compiler@$version" >/dev/null)
  tar -xzf "$tmp"/*.tgz -C "$tmp"
  mkdir -p "$dir"
  for f in Setup.e32 SetupLdr.e32 ISCC.exe Compil32.exe; do
    [[ -f "$tmp/package/bin/$f" ]] && cp "$tmp/package/bin/$f" "$dir/"
  done
  rm -rf "$tmp"
}

fetch 5.5.9
fetch 6.3.1

