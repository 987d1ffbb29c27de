#!/usr/bin/env bash
# Installs the Debian packages a task needs, if missing.
# Run as root (or through sudo) on a fresh Debian 12 machine.
#
#   scripts/deps.sh run     build the program and run it (make run)
#   scripts/deps.sh test    + the C++ test suite, benchmarks, fuzz targets
#   scripts/deps.sh tools   + the companion tools and their tests
#   scripts/deps.sh [all]   everything (make test)
# Several sets may be given at once: scripts/deps.sh run tools
set -euo pipefail
run=(g++ cmake make python3)
test=(
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libfftw3-dev            # benchmark reference for the Fourier transform only
  clang libclang-rt-14-dev libomp-14-dev  # fuzz targets (clang with OpenMP)
)
tools=(
  python3-numpy python3-matplotlib python3-pandas python3-pytest  # companion tools
  python3-venv python3-pip python3-setuptools python3-wheel  # test of pip install ./tools
  slurm-wlm munge         # the tests of bbscan's Slurm back end start a private cluster
)
packages=()
(($# == 0)) && set -- all
for set in "$@"; do
  case $set in
    run) packages+=("${run[@]}") ;;
    test) packages+=("${run[@]}" "${test[@]}") ;;
    tools) packages+=("${run[@]}" "${tools[@]}") ;;
    all) packages+=("${run[@]}" "${test[@]}" "${tools[@]}") ;;
    *) echo "deps.sh: unknown package set '$set' (run, test, tools or all)" >&2; exit 2 ;;
  esac
done
missing=()
for p in "${packages[@]}"; do
  [[ " ${missing[*]} " == *" $p "* ]] && continue
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  SUDO=""
  [[ $(id -u) -ne 0 ]] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
