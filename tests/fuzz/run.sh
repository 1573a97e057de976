#!/usr/bin/env bash
# Runs the import's fuzz target for a given time on the seeds and the corpus
# kept from earlier runs. Every input that crashed or hung it is copied into
# the regression set (tests/data/import-regression), under the file name the
# target gave it, and the run fails. Inputs on which a reader crashed or hung
# in its own process (which the import survives) join the set too.
set -euo pipefail
build=$1
seconds=$2
root=$(cd "$(dirname "$0")/../.." && pwd)
regression=$root/tests/data/import-regression
mkdir -p "$build/fuzz/seeds" "$build/fuzz/corpus" "$build/fuzz/artifacts" "$build/fuzz/reader-endings"
export VOLREN_FUZZ_READER_ENDINGS=$build/fuzz/reader-endings
"$build/bin/fuzz_seeds" "$build/fuzz/seeds"
cp "$regression"/* "$build/fuzz/seeds/" 2>/dev/null || true
export ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
"$build/bin/fuzz_import" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=4096 -print_final_stats=1 \
    -artifact_prefix="$build/fuzz/artifacts/" "$build/fuzz/corpus" "$build/fuzz/seeds" || status=$?
names=(in.nii in.nii.gz in.nrrd in.nhdr in.mha in.mhd in.dcm in)
# Writes a fuzz input as the file it stood for; prints its name.
keep() {
    local selector name target
    selector=$(od -An -tu1 -N1 "$1" | tr -d ' ')
    name=${names[$((selector % 8))]}
    target="$regression/fuzz-$(basename "$1")${name#in}"
    tail -c +2 "$1" > "$target"
    echo "$target"
}
for ending in "$build"/fuzz/reader-endings/*; do
    [ -f "$ending" ] || continue
    echo "fuzz: a reader crashed or hung in its own process; kept as $(keep "$ending")"
    rm -f "$ending"
done
# Each artifact is run once more on its own: one that ends the target again
# fails the run; one that does not (a slow input past libFuzzer's timeout on a
# loaded machine, say) is kept all the same.
replays=$(mktemp -d)
trap 'rm -rf "$replays"' EXIT
found=0
for artifact in "$build"/fuzz/artifacts/*; do
    [ -f "$artifact" ] || continue
    if "$build/bin/fuzz_import" -runs=1 -timeout=30 -artifact_prefix="$replays/" "$artifact" >/dev/null 2>&1; then
        echo "fuzz: $(basename "$artifact") did not end the target when run again; kept as $(keep "$artifact")"
    else
        echo "fuzz: $(basename "$artifact") added to the regression set as $(keep "$artifact")"
        found=1
    fi
    rm -f "$artifact"
done
if [ "$found" -ne 0 ]; then
    exit 1
fi
exit "$status"
