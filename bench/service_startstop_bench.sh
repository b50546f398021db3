#!/usr/bin/env bash
# Times vlTRPrintQ under the service control manager as an administrator
# runs it (vlTRsc start / vlTRsc stop, no warm-up delay), against starting
# and stopping `sleep infinity` as a detached process (setsid, then SIGTERM
# and wait for it to be gone). Medians of RUNS, each around one whole call.
#
#   bench/service_startstop_bench.sh [BUILD_DIR] [RUNS]     (defaults: build/bench, 20)
set -euo pipefail

build_dir=${1:-build/bench}
runs=${2:-20}
sc="$build_dir/tools/vlTRsc"
service="$build_dir/service/vlTRPrintQ"
reg="$build_dir/tools/vlTRReg"
for program in "$sc" "$service" "$reg"; do
  [[ -x "$program" ]] || { echo "service_startstop_bench: $program is not built" >&2; exit 1; }
done

work=$(mktemp -d)
export VLTR_SCM_DIR="$work/scm" VLTR_REGISTRY="$work/registry.reg" VLTR_LOG_DIR="$work"
cleanup() {
  "$sc" stop vlTRPrintQ >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

key='Software\Oskarn\Velorin Trelli Print Queue Monitor\CurrentVersion'
for name in Home DataDirectory HTMLTargetDirectory ImagesDirectory; do
  "$reg" set "$key" "$name" --string "$work/$name"
done
"$service" /register >/dev/null

now_us() { echo $(($(date +%s%N) / 1000)); }

service_starts=() service_stops=() sleep_starts=() sleep_stops=()
for ((run = 1; run <= runs; run++)); do
  begin=$(now_us)
  "$sc" start vlTRPrintQ --timeout 60 >/dev/null
  middle=$(now_us)
  "$sc" stop vlTRPrintQ --timeout 60 >/dev/null
  end=$(now_us)
  service_starts+=($((middle - begin)))
  service_stops+=($((end - middle)))

  begin=$(now_us)
  setsid sleep infinity </dev/null >/dev/null 2>&1 &
  pid=$!
  while [[ ! -e /proc/$pid/exe ]]; do :; done
  middle=$(now_us)
  kill -TERM "$pid"
  wait "$pid" 2>/dev/null || true
  end=$(now_us)
  sleep_starts+=($((middle - begin)))
  sleep_stops+=($((end - middle)))
done

median_us() {
  local sorted count
  mapfile -t sorted < <(printf '%s\n' "$@" | sort -n)
  count=${#sorted[@]}
  if ((count % 2 == 1)); then echo "${sorted[count / 2]}"; else
    echo $(((sorted[count / 2 - 1] + sorted[count / 2]) / 2)); fi
}

report() {
  local what=$1 ours=$2 reference=$3
  awk -v w="$what" -v a="$ours" -v b="$reference" \
    'BEGIN { printf "%-6s vlTRPrintQ %8.1f ms   sleep infinity %6.1f ms   ratio %.0fx\n", w, a / 1000, b / 1000, a / b }'
}
echo "runs: $runs ($build_dir)"
report start "$(median_us "${service_starts[@]}")" "$(median_us "${sleep_starts[@]}")"
report stop "$(median_us "${service_stops[@]}")" "$(median_us "${sleep_stops[@]}")"
