#!/usr/bin/env bash
# Installs what KestroImage needs to build, test and benchmark, from Debian's packages only.
# Idempotent: installs only what is missing; uses sudo when not root.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git clang clang-format
  libfreeimage-dev
  libopencv-core-dev libopencv-imgproc-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libcli11-dev nlohmann-json3-dev
  chromium chromium-driver python3-selenium
  libcpp-httplib-dev
  python3-dev pybind11-dev python3-numpy python3-pytest
  python3-dask python3-distributed
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all packages present"
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
