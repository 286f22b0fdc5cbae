#!/usr/bin/env bash
# Makes the material the speed scripts in bench/ render: H.264 clips and
# still pictures at 1920x1080 (25p) and 720x576 (PAL, 25i), made by ffmpeg
# from its own test sources, so that every machine measures the same input.
set -euo pipefail

usage() {
    cat <<'EOF'
usage: bench/make_clips.sh [--seconds S | --frames N] [--force] [DIR]

Makes the test material for bench/pipeline.sh and bench/compare_ffmpeg.sh in
DIR (created if missing; default: a new temporary directory), and prints DIR
on its last line:

  bg-1080.mp4     1920x1080 25p H.264, ffmpeg's moving test pattern (testsrc2)
  title-1080.mp4  1920x1080 25p H.264, white lettering "LUSTRA" on black,
                  drifting slowly (DejaVu Sans Bold, fonts-dejavu-core)
  bg-1080.png     1920x1080 still picture (ffmpeg's mandelbrot)
  bg-576i.mp4     720x576 PAL H.264, interlaced top field first (25i, 50 fields)
  title-576i.mp4  720x576 PAL H.264 title, interlaced top field first
  bg-576.png      720x576 still picture

All videos: libx264 preset veryfast, crf 18, yuv420p, 10 seconds by default.

  --seconds S   length of the videos in seconds (default 10)
  --frames N    length in frames instead (N >= 1; 2 makes a quick set)
  --force       make files that already exist again (without it an existing
                file is kept and said so)
  -h, --help    this text

Needs ffmpeg with the lavfi sources, drawtext and libx264 (scripts/install-deps.sh).
EOF
}

seconds=10
frames=""
force=0
dir=""
while [ $# -gt 0 ]; do
    case "$1" in
    -h | --help)
        usage
        exit 0
        ;;
    --seconds)
        [ $# -ge 2 ] || { echo "make_clips.sh: --seconds needs a value" >&2; exit 2; }
        seconds="$2"
        shift 2
        ;;
    --frames)
        [ $# -ge 2 ] || { echo "make_clips.sh: --frames needs a value" >&2; exit 2; }
        frames="$2"
        shift 2
        ;;
    --force)
        force=1
        shift
        ;;
    -*)
        echo "make_clips.sh: unknown option '$1' (see --help)" >&2
        exit 2
        ;;
    *)
        [ -z "$dir" ] || { echo "make_clips.sh: one directory only (see --help)" >&2; exit 2; }
        dir="$1"
        shift
        ;;
    esac
done

if [ -n "$frames" ]; then
    [[ "$frames" =~ ^[1-9][0-9]*$ ]] || { echo "make_clips.sh: --frames needs a whole number from 1, got '$frames'" >&2; exit 2; }
    count=$frames
else
    [[ "$seconds" =~ ^[1-9][0-9]*$ ]] || { echo "make_clips.sh: --seconds needs a whole number from 1, got '$seconds'" >&2; exit 2; }
    count=$((seconds * 25))
fi

command -v ffmpeg >/dev/null 2>&1 || { echo "make_clips.sh: ffmpeg not found (bash scripts/install-deps.sh installs it)" >&2; exit 1; }
font=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf
[ -r "$font" ] || { echo "make_clips.sh: $font not found (package fonts-dejavu-core; bash scripts/install-deps.sh installs it)" >&2; exit 1; }
filters=$(ffmpeg -hide_banner -filters 2>/dev/null || true)
for filter in drawtext testsrc2 mandelbrot interlace; do
    grep -q " $filter " <<<"$filters" ||
        { echo "make_clips.sh: this ffmpeg has no '$filter' filter" >&2; exit 1; }
done
grep -q " libx264 " <<<"$(ffmpeg -hide_banner -encoders 2>/dev/null || true)" ||
    { echo "make_clips.sh: this ffmpeg has no libx264 encoder" >&2; exit 1; }

if [ -z "$dir" ]; then
    dir=$(mktemp -d "${TMPDIR:-/tmp}/lustra-clips-XXXXXX")
fi
mkdir -p "$dir"

x264=(-c:v libx264 -preset veryfast -crf 18 -pix_fmt yuv420p)
# PAL: 25 interlaced frames a second, top field first, made from 50 progressive
# pictures a second so that the two fields of a frame show different moments.
x264i=("${x264[@]}" -flags +ilme+ildct -x264-params tff=1 -field_order tt)
half=$((count * 2))

# make_file NAME FFMPEG-ARGUMENTS...: writes DIR/NAME through a temporary name in
# DIR, so that an interrupted run never leaves a file that looks complete.
make_file() {
    local name="$1"
    shift
    local target="$dir/$name"
    if [ -e "$target" ] && [ "$force" -eq 0 ]; then
        echo "kept $target (exists; --force makes it again)"
        return
    fi
    local partial="$dir/.partial-$$-$name"
    if ! ffmpeg -hide_banner -loglevel error -nostdin -y "$@" "$partial"; then
        rm -f "$partial"
        echo "make_clips.sh: ffmpeg failed to make $target" >&2
        exit 1
    fi
    mv -f "$partial" "$target"
    echo "made $target"
}

title_text() { # SIZE DRIFT
    echo "drawtext=fontfile=$font:text=LUSTRA:fontcolor=white:fontsize=$1:x=(w-tw)/2+$2*sin(2*PI*t/10):y=(h-th)/2"
}

make_file bg-1080.mp4 -f lavfi -i "testsrc2=size=1920x1080:rate=25" -frames:v "$count" "${x264[@]}" -f mp4
make_file title-1080.mp4 -f lavfi -i "color=black:size=1920x1080:rate=25,$(title_text 300 80)" \
    -frames:v "$count" "${x264[@]}" -f mp4
make_file bg-1080.png -f lavfi -i "mandelbrot=size=1920x1080:rate=25" -frames:v 1 -f image2 -c:v png
make_file bg-576i.mp4 -f lavfi -i "testsrc2=size=720x576:rate=50,interlace=scan=tff,setsar=16/15" \
    -frames:v "$count" "${x264i[@]}" -f mp4
make_file title-576i.mp4 -f lavfi -i "color=black:size=720x576:rate=50,$(title_text 112 30),interlace=scan=tff,setsar=16/15" \
    -frames:v "$count" "${x264i[@]}" -f mp4
make_file bg-576.png -f lavfi -i "mandelbrot=size=720x576:rate=25" -frames:v 1 -f image2 -c:v png
echo "$dir"
