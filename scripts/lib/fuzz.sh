# The fuzz targets and how they are run, shared by scripts/fuzz-model and scripts/fuzz-all
# shellcheck shell=bash
# (sourced, not run; both set `root` to the repository and `build` to build/fuzz first):
#   fuzzTargets TARGET...       the targets named (fuzz_model, fuzz_import, fuzz_roundtrip, or
#                               model, import, roundtrip), all three without names; exits 2 on
#                               an unknown name
#   fuzzBuild                   builds the three targets and the seed writer (build/fuzz)
#   fuzzSeeds                   writes the seeds anew: build/fuzz/seeds/modelfiles (ModelFiles,
#                               for fuzz_model and fuzz_import) and build/fuzz/seeds/roundtrip
#   fuzzRun TARGET SECONDS CORPUS ARTIFACTS LOG
#                               runs TARGET for SECONDS on CORPUS (new inputs go there) and its
#                               seeds, crashing inputs into ARTIFACTS/, output into LOG; returns
#                               libFuzzer's status, or 1 when the log holds a sanitizer report
#   fuzzStat LOG NAME           a final statistic of a run (executions, exec/s, new units, peak
#                               RSS in MB), from the last progress line when the run crashed
#                               before printing them

fuzzTargets() {
    local name
    if [ $# -eq 0 ]; then
        set -- fuzz_model fuzz_import fuzz_roundtrip
    fi
    for name in "$@"; do
        case "$name" in
            model | fuzz_model) echo fuzz_model ;;
            import | fuzz_import) echo fuzz_import ;;
            roundtrip | fuzz_roundtrip) echo fuzz_roundtrip ;;
            *) echo "unknown fuzz target '$name' (fuzz_model, fuzz_import, fuzz_roundtrip)" >&2; exit 2 ;;
        esac
    done
}

fuzzBuild() {
    "$root/scripts/build-tree" fuzz fuzz_model fuzz_import fuzz_roundtrip make_seeds
}

fuzzSeeds() {
    rm -rf "$build/seeds"
    "$build/fuzz/make_seeds" "$build/seeds/modelfiles" >/dev/null
    "$build/fuzz/make_seeds" --roundtrip "$build/seeds/roundtrip" >/dev/null
}

fuzzSeedFolder() {
    case "$1" in
        fuzz_roundtrip) echo "$build/seeds/roundtrip" ;;
        *) echo "$build/seeds/modelfiles" ;;
    esac
}

fuzzRun() {
    local target=$1 seconds=$2 corpus=$3 artifacts=$4 log=$5
    # Round-trip inputs are choices; a few kilobytes choose the largest model the target builds.
    local maxLength=65536
    if [ "$target" = fuzz_roundtrip ]; then
        maxLength=8192
    fi
    mkdir -p "$corpus" "$artifacts"
    local status=0
    "$build/fuzz/$target" -max_total_time="$seconds" -dict="$root/fuzz/kvt.dict" \
        -max_len="$maxLength" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$artifacts/" "$corpus" "$(fuzzSeedFolder "$target")" \
        >"$log" 2>&1 || status=$?
    if [ "$status" -eq 0 ] &&
        grep -qE "ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:" "$log"; then
        status=1
    fi
    return "$status"
}

fuzzStat() {
    local log=$1 name=$2 value=""
    case "$name" in
        executions) value=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1) ;;
        rate) value=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1) ;;
        new) value=$(sed -n 's/^stat::new_units_added: *//p' "$log" | tail -n 1) ;;
        rss) value=$(sed -n 's/^stat::peak_rss_mb: *//p' "$log" | tail -n 1) ;;
    esac
    if [ -z "$value" ]; then
        # "#1234 NEW cov: ... exec/s: 56 rss: 78Mb" is the last progress line.
        local line
        line=$(grep -E '^#[0-9]+' "$log" | tail -n 1)
        case "$name" in
            executions) value=$(sed -nE 's/^#([0-9]+).*/\1/p' <<<"$line") ;;
            new) value=$(grep -cE '^#[0-9]+[[:space:]]+NEW' "$log") ;;
            rate) value=$(sed -nE 's/.*exec\/s: ([0-9]+).*/\1/p' <<<"$line") ;;
            rss) value=$(sed -nE 's/.*rss: ([0-9]+)Mb.*/\1/p' <<<"$line") ;;
        esac
    fi
    echo "${value:-0}"
}
