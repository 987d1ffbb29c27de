#!/usr/bin/env bash
# The wire study of the README: the bundled example ring with one
# compensating wire per side of each IP (tools/make_ring.py --wires npar),
# its footprint without (current 0) and with the compensating current, and
# the diffusion rate at 5 and 6 sigma against the current of the four wires.
# Usage: scripts/wire_study.sh [work folder]   (default out/wire-study)
set -euo pipefail
cd "$(dirname "$0")/.."
work=${1:-out/wire-study}
figs=docs/figures
bin=${BBTRACK_BINARY:-$PWD/build/diff2wirenew}
py=/usr/bin/python3
mkdir -p "$work" "$figs"

$py tools/make_ring.py --out "$work/ring" --wires npar
# minus the current the start-up wire evaluation prints for npar = 16; its
# sign follows the bunch population dnb (positive for the bundled example's
# same-charge beams, dnb < 0), and the scanned currents take the same sign
comp=$(awk 'NR == 1 { print $4 }' "$work/ring/wires.dat")
s=$(awk -v c="$comp" 'BEGIN { print (c < 0 ? "-" : "") }')
$py tools/bbscan run "$work/ring" "$work/footprint" --binary "$bin" \
    --set iopt=3 --set ntrack=2048 --set "wire*.current=0,$comp"
$py tools/bbscan run "$work/ring" "$work/current" --binary "$bin" --set amp=10,12 \
    --set "wire*.current=0,${s}20,${s}40,${s}60,${s}80,$comp,${s}100,${s}120,${s}140,${s}160,${s}180" \
    --set ntrack=3000

# one window for both footprints (lattice tunes 0.69 / 0.70, same-charge beams
# move the tunes down)
window="0.681 0.6935 0.689 0.7015"
$py tools/bbplot footprint "$work/footprint/points/iopt=3_ntrack=2048_wireall.current=0/footprint.dat" \
    --window $window -o "$figs/wires_footprint_without.png" \
    --title "Tune footprint, bundled example, wire current 0"
$py tools/bbplot footprint "$work/footprint/points/iopt=3_ntrack=2048_wireall.current=$comp/footprint.dat" \
    --window $window -o "$figs/wires_footprint_with.png" \
    --title "Tune footprint, bundled example, four compensating wires"
$py tools/bbplot rates "$work/current/results.csv" --x "wire*.current" --log --mark "$comp" \
    --mark-label "current of the wire evaluation (npar = 16), reversed" \
    --title "Diffusion rate against the current of the four wires" -o "$figs/wires_rates.png"
echo "figures in $figs; results in $work/current/results.csv"
