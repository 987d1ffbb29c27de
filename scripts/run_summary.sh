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
  ' "$out"
fi
if [ -s "$dir/resav.out" ]; then
  echo "resav.out (ampin, diffusion rates x and y per turn, ichoice, tunes):"
  cat "$dir/resav.out"
fi
if [ -f "$dir/exit_status" ]; then
  echo "exit status: $(cat "$dir/exit_status")"
fi
