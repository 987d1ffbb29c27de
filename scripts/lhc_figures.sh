#!/usr/bin/env bash
# The frequency map and dynamic aperture of the ring at the LHC working point
# (examples/lhc/: tunes 64.31 / 59.32, two IPs, 15 long-range encounters per
# side), without and with one compensating wire per side of each IP, studied
# by `diff2wirenew dynap --ring`, and their figures, each pair on one colour
# range (diffusion index -12 to -1, turns survived 1 to 20000).
# Usage: scripts/lhc_figures.sh [work folder]   (default out/lhc-study)
set -euo pipefail
cd "$(dirname "$0")/.."
work=${1:-out/lhc-study}
figs=docs/figures
bin=${BBTRACK_BINARY:-$PWD/build/diff2wirenew}
py=/usr/bin/python3
mkdir -p "$work" "$figs"

study=(--amplitudes 0.5:12:0.5 --angles 15 --turns 20000 --window 1024 --quiet)
for case in without with; do
    ring=examples/lhc/ring.txt
    [ "$case" = with ] && ring=examples/lhc/ring_wires.txt
    "$bin" dynap --ring "$ring" "${study[@]}" --out "$work/$case"
done
for case in without with; do
    words=$([ "$case" = with ] && echo "four compensating wires" || echo "no wires")
    $py tools/bbplot fma "$work/$case" --window 0.295 0.315 0.305 0.325 --order 10 \
        --vmin -12 --vmax -1 -o "$figs/lhc_fma_$case.png" --title "Frequency map, LHC working point, $words"
    $py tools/bbplot da "$work/$case" --vmin 1 --vmax 20000 -o "$figs/lhc_da_$case.png" \
        --title "Dynamic aperture, LHC working point, $words"
done
grep -H "^da_" "$work"/*/dynap_summary.txt || true
echo "figures in $figs; results in $work"
