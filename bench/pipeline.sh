#!/usr/bin/env bash
# Whole-process speed of `lustra render`: frames per second (wall clock),
# CPU time over wall time and peak memory of the process, for the jobs a
# user runs, each repeated so that the minimum and median can be told apart
# on a shared machine.
set -euo pipefail
script_name=pipeline.sh
source "$(dirname "${BASH_SOURCE[0]}")/bench_lib.sh"

usage() {
    cat <<'EOF'
usage: bench/pipeline.sh [--build DIR] [--clips DIR] [--repeat R] [--frames N]
                         [--size 1080|576] [--cases LIST] [--jobs LIST] [--keep DIR]

Runs `lustra render` (H.264 out: libx264 preset veryfast, crf 18) for
  clip   the title clip over the background clip (two H.264 videos in)
  still  the title clip over the still picture
  jobs   the title clip over the background clip with -j N for each N of
         --jobs, when `lustra render --help` offers -j (else it says so)
  raw    the title clip over the background clip into uncompressed video
         (rawvideo in .nut, at most 50 frames: about 6 MiB a frame on disk),
         so that the peak memory without the encoder shows the encoder's
         share (not in the default list)
R times each (the cases in turn, so that a change in the machine's load
hits all alike), and prints per case the wall time and frames per second
(best and median run), CPU time (user + system, all threads) over wall time, and
the peak resident memory in MiB (from wait4() of the process, through
bench/measure.py), then the `--stats` line of the median run.

  --build DIR    the build directory holding lustra (default: build)
  --clips DIR    the material of bench/make_clips.sh; made there if missing
                 (default: made in a new temporary directory)
  --repeat R     runs per case (default 3)
  --frames N     frames per run (default 250: ten seconds)
  --size S       1080 (default) or 576 (the PAL 25i material)
  --cases LIST   comma-separated, from clip,still,jobs,raw (default:
                 clip,still,jobs)
  --jobs LIST    the worker counts of the jobs case (default "1 2 4")
  --keep DIR     keep the rendered videos and logs in DIR (default: removed)
  -h, --help     this text

Figures are wall-clock figures: on a machine shared with other work they
vary; compare the best runs, and run before and after a change in one go.
EOF
}

build=build
clips_dir=""
repeat=3
frames=250
size=1080
cases="clip,still,jobs"
jobs_list="1 2 4"
keep=""
while [ $# -gt 0 ]; do
    case "$1" in
    -h | --help) usage; exit 0 ;;
    --build) need_value "$1" $#; build="$2"; shift 2 ;;
    --clips) need_value "$1" $#; clips_dir="$2"; shift 2 ;;
    --repeat) need_value "$1" $#; need_count "$1" "$2"; repeat="$2"; shift 2 ;;
    --frames) need_value "$1" $#; need_count "$1" "$2"; frames="$2"; shift 2 ;;
    --size) need_value "$1" $#; size="$2"; shift 2 ;;
    --cases) need_value "$1" $#; cases="$2"; shift 2 ;;
    --jobs) need_value "$1" $#; jobs_list="$2"; shift 2 ;;
    --keep) need_value "$1" $#; keep="$2"; shift 2 ;;
    *) usage_error "unknown argument '$1'" ;;
    esac
done
case "$size" in
1080) title=title-1080.mp4 video=bg-1080.mp4 still=bg-1080.png ;;
576) title=title-576i.mp4 video=bg-576i.mp4 still=bg-576.png ;;
*) usage_error "--size takes 1080 or 576, got '$size'" ;;
esac
for c in ${cases//,/ }; do
    case "$c" in clip | still | jobs | raw) ;; *) usage_error "unknown case '$c' (clip, still, jobs, raw)" ;; esac
done
for n in $jobs_list; do need_count "--jobs" "$n"; done

need_python
find_lustra "$build"
need_ffmpeg
clips_in "$clips_dir"

if [ -n "$keep" ]; then
    mkdir -p "$keep"
    work="$(cd "$keep" && pwd)"
else
    work=$(mktemp -d "${TMPDIR:-/tmp}/lustra-pipeline-XXXXXX")
    trap 'rm -rf "$work"' EXIT
fi

has_jobs=0
# The help text is read whole first: grep -q stops reading at the first match,
# and under pipefail the help text written after that would end
# lustra with SIGPIPE and fail the test.
render_help=$("$lustra" render --help 2>/dev/null || true)
grep -Eq '^ +-j[ ,]|--jobs' <<<"$render_help" && has_jobs=1

encoder=(--codec libx264 --codec-option preset=veryfast --codec-option crf=18)

# The runs: case names, their backgrounds and extra options.
names=() backgrounds=() extras=()
skipped=()
for c in ${cases//,/ }; do
    case "$c" in
    clip) names+=(clip) backgrounds+=("$video") extras+=("") ;;
    raw) names+=(raw) backgrounds+=("$video") extras+=("") ;;
    still) names+=(still) backgrounds+=("$still") extras+=("") ;;
    jobs)
        if [ "$has_jobs" -eq 1 ]; then
            for n in $jobs_list; do names+=("clip-j$n") backgrounds+=("$video") extras+=("-j $n"); done
        else
            skipped+=("  jobs: skipped: this lustra render has no -j option")
        fi
        ;;
    esac
done

# run_once INDEX RUN: one run of a case; appends "wall fps cpu/wall MiB" to
# WORK/NAME.runs and keeps its --stats line.
run_once() {
    local i="$1" r="$2" name="${names[$1]}" line wall cpu count extra=()
    read -r -a extra <<<"${extras[i]}"
    local log="$work/$name-$r.log" out="$work/$name.mp4" count_of=$frames codec=("${encoder[@]}")
    if [ "$name" = raw ]; then
        out="$work/$name.nut" codec=(--codec rawvideo)
        [ "$count_of" -le 50 ] || count_of=50
    fi
    line=$(measured "$log" "$lustra" render --title "$clips/$title" --background "$clips/${backgrounds[i]}" \
        -o "$out" -y --quiet --stats --frames "0-$((count_of - 1))" "${codec[@]}" "${extra[@]}")
    wall=$(field "$line" wall)
    cpu=$(field "$line" cpu)
    count=$(sed -n 's/^lustra: \([0-9]*\) frames in .*/\1/p' "$log" | tail -n 1)
    [ -n "$count" ] || count=$(ffprobe -v error -select_streams v:0 -count_packets \
        -show_entries stream=nb_read_packets -of csv=p=0 "$out")
    echo "$wall $(calc "$count / $wall") $(calc "$cpu / $wall") $(field "$line" peak_mib) $count" >>"$work/$name.runs"
    grep '^lustra: [0-9]* frames in' "$log" | tail -n 1 >"$work/$name-$r.stats" || true
}

# summary NAME: the line of one case, and its median run's --stats line.
summary() {
    local name="$1" walls=() fps=() ratios=() peaks=() count="" wall f ratio peak n
    while read -r wall f ratio peak n; do
        walls+=("$wall") fps+=("$f") ratios+=("$ratio") peaks+=("$peak") count="$n"
    done <"$work/$name.runs"
    local median_wall
    median_wall=$(median_of "${walls[@]}")
    printf '%-10s %6s %8.2f %8.2f %8.1f %8.1f %9.2f %8.0f %8.0f\n' "$name" "$count" \
        "$(min_of "${walls[@]}")" "$median_wall" "$(max_of "${fps[@]}")" "$(median_of "${fps[@]}")" \
        "$(median_of "${ratios[@]}")" "$(min_of "${peaks[@]}")" "$(median_of "${peaks[@]}")"
    # The run whose wall time is nearest the median.
    local best=0 i
    for ((i = 0; i < ${#walls[@]}; i++)); do
        if awk "BEGIN { exit !((${walls[i]} - $median_wall)^2 < (${walls[best]} - $median_wall)^2) }"; then
            best=$i
        fi
    done
    local stats
    stats=$(cat "$work/$name-$((best + 1)).stats")
    summaries+=("  $name: ${stats#lustra: }")
}

echo "lustra render, $size material from $clips, $frames frames a run, $repeat runs a case (interleaved)"
echo "lustra: $lustra"
machine_note
rm -f "$work"/*.runs
for ((r = 1; r <= repeat; r++)); do
    for ((i = 0; i < ${#names[@]}; i++)); do run_once "$i" "$r"; done
done
printf '%-10s %6s %8s %8s %8s %8s %9s %8s %8s\n' case frames "wall min" "wall med" "fps best" \
    "fps med" "cpu/wall" "MiB min" "MiB med"
summaries=()
for name in "${names[@]}"; do summary "$name"; done
echo "--stats of the median run of each case:"
printf '%s\n' "${summaries[@]}" "${skipped[@]}"
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
