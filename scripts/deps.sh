#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, if missing.
# Run as root (or through sudo) on a fresh Debian 12 machine.
set -euo pipefail
packages=(
  g++ cmake make python3
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libfftw3-dev            # benchmark reference for the Fourier transform only
  clang libclang-rt-14-dev libomp-14-dev  # fuzz targets (clang with OpenMP)
  python3-numpy python3-matplotlib python3-pytest  # companion tools
  python3-venv python3-pip python3-setuptools python3-wheel  # test of pip install ./tools
  slurm-wlm munge         # the tests of bbscan's Slurm back end start a private cluster
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  SUDO=""
  [[ $(id -u) -ne 0 ]] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
