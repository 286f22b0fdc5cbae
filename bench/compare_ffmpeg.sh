#!/usr/bin/env bash
# Paired whole-process comparison: `lustra render` against an ffmpeg filter
# graph of a comparable look (and against our frei0r filter inside ffmpeg),
# on the same material with the same encoder, the two runs of each pair
# alternating so that a change in the machine's load hits both alike.
set -euo pipefail
script_name=compare_ffmpeg.sh
source "$(dirname "${BASH_SOURCE[0]}")/bench_lib.sh"

usage() {
    cat <<'EOF'
usage: bench/compare_ffmpeg.sh [--build DIR] [--clips DIR] [--repeat R] [--frames N]
                               [--size 1080|576] [--cases LIST] [--keep DIR]

Runs each pair R times, alternating which goes first (A B, B A, A B ...),
and prints the wall time of every run, then per pair the best and median
wall time, frames per second, CPU time over wall time and peak memory (MiB)
of each side, the ratio of the medians and the median of the per-run ratios
(the paired figure: above 1, the other side takes longer than lustra).

Cases (all write H.264: libx264 preset veryfast, crf 18, yuv420p):
  graph-clip    lustra render --title TITLE --background CLIP
                against ffmpeg -i CLIP -i TITLE -filter_complex GRAPH
  graph-still   the same over the still picture (ffmpeg: -loop 1 -i PICTURE)
  frei0r-still  lustra render over the still picture against ffmpeg running
                our frei0r filter: -vf frei0r=lustrafex:PICTURE
                (FREI0R_PATH=BUILD/frei0r-1; the same module, same look)

GRAPH is a look like lustra's default built from ffmpeg's own filters in
planar RGB: the title blurred (gblur) three times, for a drop shadow (offset,
multiplied onto the background with blend), a glow (tinted, blend screen)
and a soft relief (blend overlay on the tinted title), which is laid over
the background through its soft alpha (alphamerge, overlay). Where ffmpeg
has the frei0r filter and frei0r's own glow plug-in is installed (glow.so in
FREI0R_PATH, /usr/lib/frei0r-1 or /usr/local/lib/frei0r-1; Debian package
frei0r-plugins) the glow is frei0r's glow instead of gblur.

  --build DIR    the build directory holding lustra and frei0r-1/ (default: build)
  --clips DIR    the material of bench/make_clips.sh; made there if missing
                 (default: made in a new temporary directory)
  --repeat R     runs of each side per pair (default 3)
  --frames N     frames per run (default 250, at most the title's length)
  --size S       1080 (default) or 576 (the PAL 25i material)
  --cases LIST   comma-separated, from graph-clip,graph-still,frei0r-still
                 (default: all)
  --print-graph  print the ffmpeg filter graph and stop
  --keep DIR     keep the rendered videos and logs in DIR (default: removed)
  -h, --help     this text
EOF
}

build=build
clips_dir=""
repeat=3
frames=250
size=1080
cases="graph-clip,graph-still,frei0r-still"
keep=""
print_graph=0
while [ $# -gt 0 ]; do
    case "$1" in
    -h | --help) usage; exit 0 ;;
    --build) need_value "$1" $#; build="$2"; shift 2 ;;
    --clips) need_value "$1" $#; clips_dir="$2"; shift 2 ;;
    --repeat) need_value "$1" $#; need_count "$1" "$2"; repeat="$2"; shift 2 ;;
    --frames) need_value "$1" $#; need_count "$1" "$2"; frames="$2"; shift 2 ;;
    --size) need_value "$1" $#; size="$2"; shift 2 ;;
    --cases) need_value "$1" $#; cases="$2"; shift 2 ;;
    --print-graph) print_graph=1; shift ;;
    --keep) need_value "$1" $#; keep="$2"; shift 2 ;;
    *) usage_error "unknown argument '$1'" ;;
    esac
done
case "$size" in
1080) title=title-1080.mp4 video=bg-1080.mp4 still=bg-1080.png blur=1 ;;
576) title=title-576i.mp4 video=bg-576i.mp4 still=bg-576.png blur=0.4 ;;
*) usage_error "--size takes 1080 or 576, got '$size'" ;;
esac
for c in ${cases//,/ }; do
    case "$c" in graph-clip | graph-still | frei0r-still) ;; *) usage_error "unknown case '$c' (graph-clip, graph-still, frei0r-still)" ;; esac
done

# frei0r's glow, where ffmpeg can run frei0r plug-ins and it is installed.
frei0r_glow=""
frei0r_dirs="${FREI0R_PATH:-}:/usr/lib/frei0r-1:/usr/local/lib/frei0r-1:/usr/lib/x86_64-linux-gnu/frei0r-1"
if command -v ffmpeg >/dev/null 2>&1 && grep -q " frei0r " <<<"$(ffmpeg -hide_banner -filters 2>/dev/null || true)"; then
    IFS=: read -r -a dirs <<<"$frei0r_dirs"
    for d in "${dirs[@]}"; do
        if [ -n "$d" ] && [ -e "$d/glow.so" ]; then
            frei0r_glow="$d"
            break
        fi
    done
fi

# The graph: input 0 the background, input 1 the title (white on black).
s() { calc1 "$1 * $blur"; }
offset=$(awk "BEGIN { printf \"%d\", 12 * $blur + 0.5 }")
if [ -n "$frei0r_glow" ]; then
    glow="format=rgba,frei0r=glow:0.5,format=gbrp,colorchannelmixer=rr=1:gg=0.8:bb=0.3"
else
    glow="gblur=sigma=$(s 14),colorchannelmixer=rr=1:gg=0.8:bb=0.3"
fi
graph="[1:v]format=gbrp,split=4[t1][t2][t3][t4];\
[t1]gblur=sigma=$(s 8),negate,crop=iw-$offset:ih-$offset:0:0,pad=iw+$offset:ih+$offset:$offset:$offset:white[shadow];\
[t2]$glow[glow];\
[t3]gblur=sigma=$(s 3),split[soft][mask];\
[t4]colorchannelmixer=rr=0.95:gg=0.8:bb=0.45[tint];\
[tint][soft]blend=all_mode=overlay[relief];\
[0:v]format=gbrp[bg];\
[bg][shadow]blend=all_mode=multiply:all_opacity=0.6:shortest=1[b1];\
[b1][glow]blend=all_mode=screen:shortest=1[b2];\
[relief][mask]alphamerge[object];\
[b2][object]overlay=format=gbrp:shortest=1[out]"
if [ "$print_graph" -eq 1 ]; then
    echo "$graph"
    exit 0
fi

need_python
find_lustra "$build"
need_ffmpeg
build_dir="$(cd "$build" && pwd)"
clips_in "$clips_dir"

if [ -n "$keep" ]; then
    mkdir -p "$keep"
    work="$(cd "$keep" && pwd)"
else
    work=$(mktemp -d "${TMPDIR:-/tmp}/lustra-compare-XXXXXX")
    trap 'rm -rf "$work"' EXIT
fi

frame_count() {
    ffprobe -v error -select_streams v:0 -count_packets -show_entries stream=nb_read_packets \
        -of csv=p=0 "$1"
}
n=$(min_of "$frames" "$(frame_count "$clips/$title")")

x264=(-c:v libx264 -preset veryfast -crf 18 -pix_fmt yuv420p)
lustra_side() { # BACKGROUND: side a, lustra render into OUT
    side_a=("$lustra" render --title "$clips/$title" --background "$clips/$1" -o OUT -y --quiet
        --frames "0-$((n - 1))" --codec libx264 --codec-option preset=veryfast --codec-option crf=18)
}

# pair NAME LABEL-A LABEL-B: runs the commands in arrays side_a and side_b
# (OUT stands for the output file) alternately and prints the summary.
pair() {
    local name="$1" label_a="$2" label_b="$3"
    local walls_a=() walls_b=() ratios_a=() ratios_b=() peaks_a=() peaks_b=() paired=() r side line
    local runs=""
    for ((r = 1; r <= repeat; r++)); do
        local order="a b"
        [ $((r % 2)) -eq 1 ] || order="b a"
        for side in $order; do
            local log="$work/$name-$side-$r.log" out="$work/$name-$side.mp4" args=() word command=()
            if [ "$side" = a ]; then command=("${side_a[@]}"); else command=("${side_b[@]}"); fi
            for word in "${command[@]}"; do
                if [ "$word" = OUT ]; then args+=("$out"); else args+=("$word"); fi
            done
            line=$(measured "$log" "${args[@]}")
            local wall cpu peak
            wall=$(field "$line" wall)
            cpu=$(field "$line" cpu)
            peak=$(field "$line" peak_mib)
            if [ "$side" = a ]; then
                walls_a+=("$wall") ratios_a+=("$(calc "$cpu / $wall")") peaks_a+=("$peak")
            else
                walls_b+=("$wall") ratios_b+=("$(calc "$cpu / $wall")") peaks_b+=("$peak")
            fi
            runs+=" $side:${wall}s"
        done
        paired+=("$(calc "${walls_b[r - 1]} / ${walls_a[r - 1]}")")
    done
    local med_a med_b
    med_a=$(median_of "${walls_a[@]}")
    med_b=$(median_of "${walls_b[@]}")
    echo "$name ($n frames; runs in order:$runs)"
    printf '  %-34s %8s %8s %8s %8s %9s %8s\n' "" "wall min" "wall med" "fps best" "fps med" \
        "cpu/wall" "MiB med"
    printf '  a %-32s %8.2f %8.2f %8.1f %8.1f %9.2f %8.0f\n' "$label_a" "$(min_of "${walls_a[@]}")" \
        "$med_a" "$(calc "$n / $(min_of "${walls_a[@]}")")" "$(calc "$n / $med_a")" \
        "$(median_of "${ratios_a[@]}")" "$(median_of "${peaks_a[@]}")"
    printf '  b %-32s %8.2f %8.2f %8.1f %8.1f %9.2f %8.0f\n' "$label_b" "$(min_of "${walls_b[@]}")" \
        "$med_b" "$(calc "$n / $(min_of "${walls_b[@]}")")" "$(calc "$n / $med_b")" \
        "$(median_of "${ratios_b[@]}")" "$(median_of "${peaks_b[@]}")"
    printf '  b/a: ratio of medians %.2f, median of paired ratios %.2f, ratio of minima %.2f\n' \
        "$(calc "$med_b / $med_a")" "$(median_of "${paired[@]}")" \
        "$(calc "$(min_of "${walls_b[@]}") / $(min_of "${walls_a[@]}")")"
}

echo "lustra render against ffmpeg, $size material from $clips, $repeat runs a side"
echo "lustra: $lustra; ffmpeg: $(command -v ffmpeg) ($(ffmpeg -hide_banner -version | head -n 1 | cut -d' ' -f3))"
if [ -n "$frei0r_glow" ]; then
    echo "graph glow: frei0r's glow ($frei0r_glow/glow.so)"
else
    echo "graph glow: gblur (frei0r's glow plug-in is not installed: Debian package frei0r-plugins)"
fi
machine_note
ff=(ffmpeg -hide_banner -nostdin -y)
for c in ${cases//,/ }; do
    case "$c" in
    graph-clip)
        lustra_side "$video"
        side_b=("${ff[@]}" -i "$clips/$video" -i "$clips/$title" -filter_complex "$graph" -map "[out]"
            -frames:v "$n" "${x264[@]}" OUT)
        [ -z "$frei0r_glow" ] || side_b=(env "FREI0R_PATH=$frei0r_glow" "${side_b[@]}")
        pair graph-clip "lustra render" "ffmpeg graph"
        ;;
    graph-still)
        lustra_side "$still"
        side_b=("${ff[@]}" -loop 1 -framerate 25 -i "$clips/$still" -i "$clips/$title" -filter_complex "$graph"
            -map "[out]" -frames:v "$n" "${x264[@]}" OUT)
        [ -z "$frei0r_glow" ] || side_b=(env "FREI0R_PATH=$frei0r_glow" "${side_b[@]}")
        pair graph-still "lustra render" "ffmpeg graph"
        ;;
    frei0r-still)
        [ -e "$build_dir/frei0r-1/lustrafex.so" ] ||
            die "$build has no frei0r-1/lustrafex.so (cmake --build $build --target lustrafex; needs frei0r-plugins-dev)"
        lustra_side "$still"
        side_b=(env "FREI0R_PATH=$build_dir/frei0r-1" "${ff[@]}" -i "$clips/$title"
            -vf "frei0r=filter_name=lustrafex:filter_params='$clips/$still'" -frames:v "$n" "${x264[@]}" OUT)
        pair frei0r-still "lustra render" "ffmpeg -vf frei0r=lustrafex"
        ;;
    esac
done
