#!/usr/bin/env bash
# Times whole runs of varnock against the floor program (reading the same
# trade files whole and looking at every byte once) on generated trade
# directories, and prints the ratios and the peak memory of each run.
#
#   bash bench/analyzer_bench.sh [ROWS...]     (default: 20000 200000)
#
# Figures only; nothing here passes or fails.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${BUILD_DIR:-build-release}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DKELTOOLS_TESTS=OFF -DKELTOOLS_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target varnock analyzer_gen analyzer_floor >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Best of three runs: prints "wall_seconds cpu_seconds peak_kb" (CPU time is
# user plus system time, which other load on the machine disturbs less).
measure() {
    local best="" best_cpu="" peak=0 start end secs kb user sys cpu
    for _ in 1 2 3; do
        start=$(date +%s%N)
        /usr/bin/time -f "%M %U %S" -o "$work/time" "$@" </dev/null >/dev/null 2>"$work/stderr" || {
            cat "$work/stderr" >&2; return 1; }
        end=$(date +%s%N)
        secs=$(awk "BEGIN{printf \"%.3f\", ($end - $start) / 1e9}")
        read -r kb user sys <"$work/time"
        cpu=$(awk "BEGIN{printf \"%.2f\", $user + $sys}")
        if [[ -z $best ]] || awk "BEGIN{exit !($secs < $best)}"; then best=$secs; fi
        if [[ -z $best_cpu ]] || awk "BEGIN{exit !($cpu < $best_cpu)}"; then best_cpu=$cpu; fi
        (( kb > peak )) && peak=$kb
    done
    echo "$best $best_cpu $peak"
}

rows_list=("$@")
[[ ${#rows_list[@]} -eq 0 ]] && rows_list=(20000 200000)
printf '%9s %7s %8s %8s %8s %6s %8s %8s %6s %8s %8s %9s\n' rows MB largest floor_s run_s ratio floor_cpu run_cpu ratio peak_MB limit_MB rows/s
prev_rows="" prev_time=""
for rows in "${rows_list[@]}"; do
    dir=$work/d$rows
    "$root/$build/bench/analyzer_gen" "$dir" "$rows" 4 1
    mb=$(du -cb "$dir"/sdelki*.xls | awk 'END{printf "%.1f", $1/1048576}')
    largest=$(ls -l "$dir"/sdelki*.xls | awk '{if ($5 > m) m = $5} END{print m}')
    read -r floor_s floor_cpu _ < <(cd "$dir" && measure "$root/$build/bench/analyzer_floor")
    read -r run_s run_cpu peak_kb < <(cd "$dir" && measure "$root/$build/varnock")
    records=$(wc -l <"$dir/imported.txt")
    ratio=$(awk "BEGIN{printf \"%.2f\", $run_s / ($floor_s > 0 ? $floor_s : 0.01)}")
    cpu_ratio=$(awk "BEGIN{printf \"%.2f\", $run_cpu / ($floor_cpu > 0 ? $floor_cpu : 0.01)}")
    peak_mb=$(awk "BEGIN{printf \"%.1f\", $peak_kb / 1024}")
    limit_mb=$(awk "BEGIN{printf \"%.1f\", ($largest + 300 * $records) / 1048576}")
    rate=$(awk "BEGIN{printf \"%.0f\", $records / ($run_s > 0 ? $run_s : 0.01)}")
    printf '%9s %7s %8.1f %8s %8s %6s %8s %8s %6s %8s %8s %9s\n' "$rows" "$mb" \
        "$(awk "BEGIN{print $largest/1048576}")" "$floor_s" "$run_s" "$ratio" "$floor_cpu" "$run_cpu" \
        "$cpu_ratio" "$peak_mb" "$limit_mb" "$rate"
    if [[ -n $prev_rows ]]; then
        awk "BEGIN{printf \"  %d -> %d rows: time x%.2f for rows x%.1f\n\", $prev_rows, $rows, $run_s / $prev_time, $rows / $prev_rows}"
    fi
    prev_rows=$rows prev_time=$run_s
    rm -rf "$dir"
done
