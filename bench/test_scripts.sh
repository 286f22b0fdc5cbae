#!/usr/bin/env bash
# Keeps the speed scripts of bench/ working (run by ctest; measures nothing):
#   test_scripts.sh usage          every script parses, --help, bad arguments
#   test_scripts.sh run BUILD DIR  make_clips.sh with two frames in DIR, then
#                                  pipeline.sh and compare_ffmpeg.sh on them
# Exits 77 (skipped) when ffmpeg is missing for "run".
set -uo pipefail
bench=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
scripts=(make_clips pipeline compare_ffmpeg compare_commits)
failures=0

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# expect CODE PATTERN COMMAND...: COMMAND exits CODE and its output holds PATTERN.
expect() {
    local code="$1" pattern="$2"
    shift 2
    local output status
    output=$("$@" 2>&1)
    status=$?
    [ "$status" -eq "$code" ] || fail "$* exited $status, not $code: $output"
    grep -q -- "$pattern" <<<"$output" || fail "$* did not say '$pattern': $output"
}

usage_checks() {
    local s
    for s in "${scripts[@]}" bench_lib test_scripts; do
        bash -n "$bench/$s.sh" || fail "$s.sh does not parse"
    done
    for s in "${scripts[@]}"; do
        expect 0 "usage: bench/$s.sh" bash "$bench/$s.sh" --help
        expect 2 "unknown" bash "$bench/$s.sh" --no-such-option
    done
    expect 0 "usage: bench/measure.py" python3 "$bench/measure.py" --help
    expect 2 "no command" python3 "$bench/measure.py" --
    expect 3 "rc=3" python3 "$bench/measure.py" -- sh -c "exit 3"
    expect 2 "whole number" bash "$bench/make_clips.sh" --frames 0
    expect 2 "whole number" bash "$bench/pipeline.sh" --repeat x
    expect 2 "1080 or 576" bash "$bench/pipeline.sh" --size 720
    expect 2 "unknown case" bash "$bench/compare_ffmpeg.sh" --cases nothing
    expect 1 "no build directory" bash "$bench/pipeline.sh" --build /nonexistent/build
    expect 1 "no build directory" bash "$bench/compare_ffmpeg.sh" --build /nonexistent/build
    expect 2 "give the base revision" bash "$bench/compare_commits.sh"
    expect 1 "no such revision\\|not a git checkout" bash "$bench/compare_commits.sh" no-such-revision-here
    expect 0 "alphamerge" bash "$bench/compare_ffmpeg.sh" --print-graph
}

run_checks() {
    local build="$1" dir="$2"
    command -v ffmpeg >/dev/null 2>&1 || { echo "ffmpeg not installed: skipped"; exit 77; }
    rm -rf "$dir"
    expect 0 "made $dir/title-1080.mp4" bash "$bench/make_clips.sh" --frames 2 "$dir"
    local probe
    probe=$(ffprobe -v error -count_packets -show_entries stream=width,height,nb_read_packets,field_order \
        -of csv=p=0 "$dir/bg-576i.mp4")
    [ "$probe" = "720,576,tt,2" ] || fail "bg-576i.mp4 is $probe, not 720x576 tff with 2 frames"
    probe=$(ffprobe -v error -show_entries stream=width,height -of csv=p=0 "$dir/bg-1080.png")
    [ "$probe" = "1920,1080" ] || fail "bg-1080.png is $probe"
    # A second run keeps what is there, byte for byte.
    local before
    before=$(cksum "$dir"/*)
    expect 0 "kept $dir/bg-1080.mp4" bash "$bench/make_clips.sh" --frames 3 "$dir"
    [ "$(cksum "$dir"/*)" = "$before" ] || fail "make_clips.sh changed existing files without --force"
    expect 0 "^still  *2 " bash "$bench/pipeline.sh" --build "$build" --clips "$dir" --frames 2 \
        --repeat 1 --cases clip,still,raw
    local cases=graph-still
    # A sanitized plug-in cannot be loaded by an ffmpeg built without the
    # sanitizers, so that build leaves the frei0r case out.
    if [ -e "$build/frei0r-1/lustrafex.so" ] && [ -z "${LUSTRA_SANITIZED_BUILD:-}" ]; then
        cases+=,frei0r-still
    fi
    expect 0 "median of paired ratios" bash "$bench/compare_ffmpeg.sh" --build "$build" --clips "$dir" \
        --frames 2 --repeat 1 --cases "$cases"
}

case "${1:-}" in
usage) usage_checks ;;
run) run_checks "$2" "$3" ;;
*) echo "usage: bench/test_scripts.sh usage | run BUILD DIR" >&2; exit 2 ;;
esac
[ "$failures" -eq 0 ] || { echo "$failures failures" >&2; exit 1; }
echo "all passed"
