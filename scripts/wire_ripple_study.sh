#!/usr/bin/env bash
# The wire ripple study of the README: the ring of the wire study (four
# compensating wires, tools/make_ring.py --wires npar) at the compensating
# current, the diffusion rate at 5 and 6 sigma against the relative ripple
# amplitude a of the four wires' currents (period 100 turns, all in phase),
# and the rates without wires for comparison.
# Usage: scripts/wire_ripple_study.sh [work folder]   (default out/wire-ripple)
set -euo pipefail
cd "$(dirname "$0")/.."
work=${1:-out/wire-ripple}
figs=docs/figures
bin=${BBTRACK_BINARY:-$PWD/build/diff2wirenew}
py=/usr/bin/python3
mkdir -p "$work" "$figs"

$py tools/make_ring.py --out "$work/ring" --force --wires npar
comp=$(awk 'NR == 1 { print $4 }' "$work/ring/wires.dat")
$py tools/bbscan run "$work/ring" "$work/nowire" --binary "$bin" --set amp=10,12 \
    --set "wire*.current=0" --set ntrack=3000
$py tools/bbscan run "$work/ring" "$work/ripple" --binary "$bin" --set amp=10,12 \
    --set "wire*.current=$comp" --set "wire*.period=100" \
    --set "wire*.a=0,0.01,0.02,0.05,0.1,0.2,0.3,0.5" --set ntrack=3000

$py tools/bbplot rates "$work/ripple/results.csv" --x "wire*.a" --log \
    --title "Diffusion rate at the compensating current against the wires' ripple" \
    -o "$figs/wires_ripple_rates.png"
echo "without wires:"; cat "$work/nowire/results.csv"
echo "figure in $figs; results in $work/ripple/results.csv"
