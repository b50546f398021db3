#!/usr/bin/env bash
# Times the fake service under the service control manager, through vlTRsc as
# an administrator would run it: the median (and range) of RUNS start-to-RUNNING
# and stop-to-STOPPED times, each measured around one whole vlTRsc call.
#
#   bench/scm_startstop_bench.sh [BUILD_DIR] [RUNS]     (defaults: build, 20)
#
# BUILD_DIR must hold tools/vlTRsc and tests/vltr_fake_service. The database
# is a temporary directory, removed at the end.
set -euo pipefail

build_dir=${1:-build}
runs=${2:-20}
sc="$build_dir/tools/vlTRsc"
fake="$build_dir/tests/vltr_fake_service"
for program in "$sc" "$fake"; do
  [[ -x "$program" ]] || { echo "scm_startstop_bench: $program is not built" >&2; exit 1; }
done

work=$(mktemp -d)
export VLTR_SCM_DIR="$work/scm"
cleanup() {
  "$sc" stop vltrBench >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

# The name travels with the entry: the fake service passes it to its dispatcher.
VLTR_FAKE_SERVICE_NAME=vltrBench "$fake" --register vltrBench

now_us() { echo $(($(date +%s%N) / 1000)); }

starts=()
stops=()
for ((run = 1; run <= runs; run++)); do
  begin=$(now_us)
  "$sc" start vltrBench --timeout 30 >/dev/null
  middle=$(now_us)
  "$sc" stop vltrBench --timeout 30 >/dev/null
  end=$(now_us)
  starts+=($((middle - begin)))
  stops+=($((end - middle)))
done

# Prints "median M ms (min A, max B)" of the microsecond values given.
summary() {
  local sorted
  mapfile -t sorted < <(printf '%s\n' "$@" | sort -n)
  local count=${#sorted[@]}
  local median
  if ((count % 2 == 1)); then
    median=${sorted[count / 2]}
  else
    median=$(((sorted[count / 2 - 1] + sorted[count / 2]) / 2))
  fi
  awk -v m="$median" -v lo="${sorted[0]}" -v hi="${sorted[count - 1]}" \
    'BEGIN { printf "median %.1f ms (min %.1f, max %.1f)\n", m / 1000, lo / 1000, hi / 1000 }'
}

echo "runs: $runs ($build_dir)"
echo "vlTRsc start -> RUNNING: $(summary "${starts[@]}")"
echo "vlTRsc stop  -> STOPPED: $(summary "${stops[@]}")"
