#!/bin/sh
# The lines of a finished run a person looks for first: where the results
# are, the tunes and betas of the ring, the lost particles and the
# diffusion rates of resav.out, the exit status. Usage:
# scripts/run_summary.sh RUN_FOLDER (as make run leaves it: stdout.txt,
# stderr.txt, exit_status).
set -eu
dir=${1:?usage: run_summary.sh RUN_FOLDER}
out="$dir/stdout.txt"
echo "results in $dir:"
(cd "$dir" && ls | grep -v -x -e stdout.txt -e stderr.txt -e exit_status | tr '\n' ' ')
echo
if [ -f "$out" ]; then
  awk '
    /^  tunes $/ { getline; printf "tunes (x, y, z):  %s %s %s\n", $1, $2, $3 }
    /^  actual betas = / { printf "betas (x, y):     %s %s\n", $4, $5 }
    /^  lost particles = / { printf "lost particles:   %s\n", $4 }
    # the start-up evaluation (" wire current = X A") asks for a current,
    # the echo of wires.dat (" wire k xw yw", then current, length, kw) is
    # what acts
    /^ *wire current = .* A *$/ {
      printf "wire current needed to compensate npar encounters (start-up evaluation): %s A\n", $4 }
    $1 == "wire" && $2 ~ /^[0-9]+$/ {
      n = 0; for (i = 2; i <= NF; i++) t[++n] = $i
      while (n < 6 && (getline line) > 0) { m = split(line, f); for (i = 1; i <= m; i++) t[++n] = f[i] }
      acting = acting (acting == "" ? "" : ", ") "point " t[1] " " t[4] + 0 " A" }
    END { print "wires acting: " (acting == "" ? "no wires" : acting) }
  ' "$out"
fi
if [ -s "$dir/resav.out" ]; then
  echo "resav.out (ampin, diffusion rates x and y per turn, ichoice, tunes):"
  cat "$dir/resav.out"
fi
if [ -f "$dir/exit_status" ]; then
  echo "exit status: $(cat "$dir/exit_status")"
fi
