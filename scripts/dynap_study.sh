#!/usr/bin/env bash
# The frequency map and dynamic aperture of the README: the bundled example
# ring with one compensating wire per side of each IP (as scripts/wire_study.sh
# makes it), studied by `diff2wirenew dynap` at several currents of the four
# wires through bbscan, and the figures of current 0 and of the compensating
# current.
# Usage: scripts/dynap_study.sh [work folder]   (default out/dynap-study)
set -euo pipefail
cd "$(dirname "$0")/.."
work=${1:-out/dynap-study}
figs=docs/figures
bin=${BBTRACK_BINARY:-$PWD/build/diff2wirenew}
py=/usr/bin/python3
mkdir -p "$work" "$figs"

[ -f "$work/ring/wires.dat" ] || $py tools/make_ring.py --out "$work/ring" --wires npar
comp=$(awk 'NR == 1 { print $4 }' "$work/ring/wires.dat")
s=$(awk -v c="$comp" 'BEGIN { print (c < 0 ? "-" : "") }')
study="--amplitudes 0.5:12:0.5 --angles 15 --turns 20000 --window 1024 --quiet"
$py tools/bbscan run "$work/ring" "$work/scan" --binary "$bin" --dynap="$study" \
    --set "wire*.current=0,${s}40,${s}80,$comp,${s}120,${s}160"

p="$work/scan/points"
# one colour range for each pair, so that equal colours mean equal values
fma="--window 0.672 0.700 0.678 0.706 --order 10 --vmin -12 --vmax -1"
da="--vmin 1 --vmax 20000"
$py tools/bbplot fma "$p/wireall.current=0" $fma \
    -o "$figs/dynap_fma_without.png" --title "Frequency map, bundled example, wire current 0"
$py tools/bbplot fma "$p/wireall.current=$comp" $fma \
    -o "$figs/dynap_fma_with.png" --title "Frequency map, bundled example, four compensating wires"
$py tools/bbplot da "$p/wireall.current=0" $da -o "$figs/dynap_da_without.png" \
    --title "Dynamic aperture, bundled example, wire current 0"
$py tools/bbplot da "$p/wireall.current=$comp" $da -o "$figs/dynap_da_with.png" \
    --title "Dynamic aperture, bundled example, four compensating wires"
$py -c 'import csv, sys
for r in csv.DictReader(open(sys.argv[1])):
    print("%-20s da_min %-5s da_average %-20s chaotic_share %s" % (r["grid:wire*.current"],
          r["da_min"], r["da_average"], r["chaotic_share"]))' "$work/scan/results.csv"
echo "figures in $figs; results in $work/scan/results.csv"
