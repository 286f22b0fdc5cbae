# Shared by the speed scripts in bench/ (sourced, not run): finding the
# build and ffmpeg, running a command under bench/measure.py, and the
# minimum and median of a list of numbers.

bench_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo_dir=$(cd "$bench_dir/.." && pwd)

die() {
    echo "$script_name: $*" >&2
    exit 1
}

usage_error() {
    echo "$script_name: $* (see --help)" >&2
    exit 2
}

# need_value OPTION COUNT: an option's value must follow it.
need_value() {
    [ "$2" -ge 2 ] || usage_error "$1 needs a value"
}

need_count() { # NAME VALUE
    [[ "$2" =~ ^[1-9][0-9]*$ ]] || usage_error "$1 needs a whole number from 1, got '$2'"
}

need_python() {
    command -v python3 >/dev/null 2>&1 || die "python3 not found (bash scripts/install-deps.sh installs it)"
}

need_ffmpeg() {
    command -v ffmpeg >/dev/null 2>&1 || die "ffmpeg not found (bash scripts/install-deps.sh installs it)"
    command -v ffprobe >/dev/null 2>&1 || die "ffprobe not found (package ffmpeg)"
    grep -q " libx264 " <<<"$(ffmpeg -hide_banner -encoders 2>/dev/null || true)" ||
        die "this ffmpeg has no libx264 encoder"
}

# find_lustra BUILD: sets lustra to BUILD/lustra, or stops with what to do.
find_lustra() {
    local build="$1"
    [ -d "$build" ] || die "no build directory '$build' (cmake -S . -B build -DCMAKE_BUILD_TYPE=Release && cmake --build build; or give --build DIR)"
    lustra="$(cd "$build" && pwd)/lustra"
    [ -x "$lustra" ] || die "$build has no lustra program (cmake --build $build --target lustra)"
    grep -q "CMAKE_BUILD_TYPE:STRING=Release" "$build/CMakeCache.txt" 2>/dev/null ||
        echo "$script_name: note: $build is not a Release build; its figures are not the release figures" >&2
}

# clips_in DIR: DIR if it holds the material, else the material is made
# there (an empty DIR: a new temporary directory) with make_clips.sh.
clips_in() {
    local dir="$1"
    shift
    if [ -n "$dir" ] && [ -e "$dir/title-1080.mp4" ] && [ -e "$dir/bg-1080.mp4" ]; then
        clips="$(cd "$dir" && pwd)"
        return
    fi
    local args=("$@")
    [ -z "$dir" ] || args+=("$dir")
    echo "making the test material: bench/make_clips.sh ${args[*]}" >&2
    clips=$(bash "$bench_dir/make_clips.sh" "${args[@]}" | tail -n 1) || die "bench/make_clips.sh failed"
    [ -e "$clips/title-1080.mp4" ] || die "bench/make_clips.sh made no material"
}

# measured LOG COMMAND...: runs COMMAND under measure.py; prints its line
# (wall= cpu= ... rc=). A failing command stops the script with its log.
measured() {
    local log="$1"
    shift
    local line
    line=$(python3 "$bench_dir/measure.py" --log "$log" -- "$@") || true
    if [ -z "$line" ] || [[ "$line" != *" rc=0" ]]; then
        echo "$script_name: failed: $*" >&2
        tail -n 20 "$log" >&2
        exit 1
    fi
    echo "$line"
}

# field LINE NAME: the value of NAME= in a measure.py line.
field() {
    local word
    for word in $1; do
        if [ "${word%%=*}" = "$2" ]; then
            echo "${word#*=}"
            return
        fi
    done
}

# min_of / median_of / max_of NUMBER...: one number (the median of an even
# count is the mean of the middle two).
min_of() { printf '%s\n' "$@" | sort -g | head -n 1; }
max_of() { printf '%s\n' "$@" | sort -g | tail -n 1; }
median_of() {
    printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END {
        if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# calc EXPRESSION: floating-point arithmetic, e.g. calc "250 / 12.3" (3 decimals).
calc() { awk "BEGIN { printf \"%.3f\", $1 }"; }
calc1() { awk "BEGIN { printf \"%.1f\", $1 }"; }

machine_note() {
    echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo 2>/dev/null | sed 's/.*: //'), load average $(cut -d' ' -f1-3 /proc/loadavg)"
}
