#!/usr/bin/env bash
# The three figures of the machine's cores, each ours against its reference,
# the two run alternately REPEAT times and the medians compared:
#  - sortfile against GNU sort (LC_ALL=C, -S <budget>, the faster of
#    --parallel=1 and its default) on random lines, budgets 64M, 8M and 1M;
#  - fsort (16 MB budget) against std::sort in memory, 16-byte records;
#  - varnock on generated trade files against the floor program, which only
#    reads the same files and looks at every byte once.
# Figures only; nothing here passes or fails on speed.  The load of the
# machine is printed before and after: the figures are only as good as it.
#
#   bash bench/cores_bench.sh          200 MB of lines, 100 MB of records, 200,000 rows
#   SMALL=1 bash bench/cores_bench.sh  20 MB, 10 MB, 20,000 rows
#   REPEAT=n                           runs of each program per figure (default 5; SMALL 3)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${BUILD_DIR:-build-release}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DKELTOOLS_TESTS=OFF -DKELTOOLS_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target varnock analyzer_gen analyzer_floor cores_bench sort_text_bench >/dev/null
bin=$root/$build/bench

# The records' budget keeps to a sixth of their size, so that both runs
# make seven chunks.
text_mb=200 rec_mb=100 rec_budget=16777216 rows=200000 repeat=${REPEAT:-5}
if [ -n "${SMALL:-}" ]; then text_mb=20 rec_mb=10 rec_budget=1677721 rows=20000 repeat=${REPEAT:-3}; fi

work=$(mktemp -d "${TMPDIR:-/tmp}/cores_bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/tmp"

# Wall seconds of one run of a command; a failing one stops the benchmark.
wall() {
    local start end
    start=$(date +%s%N)
    "$@" </dev/null >/dev/null 2>"$work/stderr" || { cat "$work/stderr" >&2; kill $$; exit 1; }
    end=$(date +%s%N)
    awk -v ns=$((end - start)) 'BEGIN{printf "%.3f", ns / 1e9}'
}
median() {
    printf '%s\n' "$@" | sort -g |
        awk '{v[NR] = $1} END{printf "%.3f", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'
}
rows_out=()
row() {  # what, reference, reference seconds, our seconds, goal, note
    rows_out+=("$(printf '%-40s %-26s %7.2f s %7.2f s %6.2f  %-7s %s' "$1" "$2" "$3" "$4" \
        "$(awk -v a="$4" -v b="$3" 'BEGIN{printf "%.2f", a / b}')" "$5" "${6:-}")")
}

echo "cores: $(nproc); load before: $(uptime | sed 's/.*load average: //'); $repeat runs of each, medians"

"$bin/sort_text_bench" gen-random "$work/random.txt" "$text_mb" 1 >/dev/null
for budget in 64M 8M 1M; do
    bytes=$(numfmt --from=iec "$budget")
    one=() two=() ours=()
    for ((r = 0; r < repeat; r++)); do
        one+=("$(wall env LC_ALL=C sort -S "${bytes}b" -T "$work/tmp" --parallel=1 -o "$work/gnu1.out" "$work/random.txt")")
        two+=("$(wall env LC_ALL=C sort -S "${bytes}b" -T "$work/tmp" -o "$work/gnu.out" "$work/random.txt")")
        ours+=("$(wall "$bin/cores_bench" sortfile "$work/random.txt" "$work/ours.out" "$bytes" "$work/tmp")")
    done
    m1=$(median "${one[@]}") m2=$(median "${two[@]}")
    if awk -v a="$m1" -v b="$m2" 'BEGIN{exit !(a <= b)}'; then ref=$m1 which="--parallel=1"; else ref=$m2 which="default"; fi
    note="GNU $m1 s one thread, $m2 s default"
    cmp -s "$work/gnu.out" "$work/ours.out" || note="$note; OUTPUTS DIFFER"
    row "sortfile, $text_mb MB lines, budget $budget" "GNU sort $which" "$ref" "$(median "${ours[@]}")" "<= 0.35" "$note"
done
rm -f "$work/random.txt" "$work"/*.out

read -r in_memory through_files same < <("$bin/cores_bench" records "$work/records.bin" "$rec_mb" "$rec_budget" "$work/tmp" "$repeat")
row "fsort, $rec_mb MB of 16-byte records, $(numfmt --to=iec "$rec_budget")" "std::sort in memory" "$in_memory" "$through_files" "<= 1.2" \
    "$([ "$same" = same ] || echo "ORDERS DIFFER")"
rm -f "$work/records.bin"

"$bin/analyzer_gen" "$work/trades" "$rows" 4 1 >/dev/null
floor=() ours=()
for ((r = 0; r < repeat; r++)); do
    floor+=("$(cd "$work/trades" && wall "$bin/analyzer_floor")")
    ours+=("$(cd "$work/trades" && wall "$root/$build/varnock")")
done
row "varnock, $rows generated rows" "reading the files once" "$(median "${floor[@]}")" "$(median "${ours[@]}")" "<= 3"

printf '%-40s %-26s %9s %9s %6s  %s\n' work reference reference ours ratio goal
printf '%s\n' "${rows_out[@]}"
echo "load after: $(uptime | sed 's/.*load average: //')"
