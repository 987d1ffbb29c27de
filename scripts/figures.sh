#!/usr/bin/env bash
# Runs the bundled example in every option, and a small amplitude scan, with
# bbscan, and draws one figure of each kind with bbplot into docs/figures.
# Usage: scripts/figures.sh [work folder]   (default out/figures)
set -euo pipefail
cd "$(dirname "$0")/.."
work=${1:-out/figures}
figs=docs/figures
bin=${BBTRACK_BINARY:-$PWD/build/diff2wirenew}
py=/usr/bin/python3
mkdir -p "$work" "$figs"

# options 2 and 3 keep at most 4096 turns per particle; 0 and 1 take the example's 10000
$py tools/bbscan run examples/ring "$work/short" --binary "$bin" --set iopt=2,3 --set ntrack=4096
$py tools/bbscan run examples/ring "$work/long" --binary "$bin" --set iopt=0,1
$py tools/bbscan run examples/ring "$work/amp" --binary "$bin" \
    --set amp=4:16:2 --set dnb=-0.6E+11,-1.15E+11

$py tools/bbplot footprint "$work/short/points/iopt=3_ntrack=4096/footprint.dat" \
    -o "$figs/footprint.png"
$py tools/bbplot spectrum "$work/short/points/iopt=2_ntrack=4096/frequencymap.dat" \
    --particles 1 8 15 -o "$figs/frequencymap.png"
$py tools/bbplot diffusion "$work/long/points/iopt=0/diff.dat" -o "$figs/diffusion.png"
$py tools/bbplot phasespace "$work/long/points/iopt=1/phasespace.dat" -o "$figs/phasespace.png"
$py tools/bbplot rates "$work/amp/results.csv" --x ampin -o "$figs/rates.png"
$py tools/bbtune "$work/short/points/iopt=2_ntrack=4096/frequencymap.dat" \
    -o "$work/short/tunes.txt"
echo "figures in $figs; tune table in $work/short/tunes.txt"
