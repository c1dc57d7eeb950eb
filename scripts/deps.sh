#!/bin/bash
# Installs the Debian packages the build, the tests and the demo need.
# Idempotent; quiet when everything is already there.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  libzydis-dev nlohmann-json3-dev libsimdjson-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev xvfb xauth
  clang libclang-rt-14-dev clang-format
  python3
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
