#!/usr/bin/env bash
# Compares the module's speed at two git revisions: builds lustra_bench of
# each in its own worktree and build directory, runs the two interleaved and
# prints, per scenario and frame size, the best of each and the change.
set -euo pipefail
script_name=compare_commits.sh
source "$(dirname "${BASH_SOURCE[0]}")/bench_lib.sh"

usage() {
    cat <<'EOF'
usage: bench/compare_commits.sh [options] BASE [HEAD]

Builds bench/lustra_bench (Release) of the git revisions BASE and HEAD
(default: HEAD, the commit checked out; uncommitted changes do not count)
each in a git worktree of its own with its own build directory, then runs
  lustra_bench --frames N [--scenario NAME]
of the two K times, interleaved (base head, head base, base head ...), and
prints per scenario and frame size the minimum over the K runs of each
side's figure (lustra_bench's median of N frames, render thread CPU time),
the percentage change from BASE to HEAD, and the spread of the runs.

The minimum over interleaved runs of the per-run medians is the figure to
quote: on a shared machine other work only ever adds time, and interleaving
gives both revisions the same conditions. A change within the spread
(max - min of the runs) is not a change.

  --runs K        interleaved runs of each revision (default 5)
  --frames N      frames per lustra_bench run (default 9)
  --scenario S    one scenario only (lustra_bench --help lists them)
  --steps         also compare each engine step's time
  --workdir DIR   where the worktrees and builds go (kept, and reused by the
                  next run with the same DIR; default: a temporary directory,
                  removed at the end)
  --build-jobs J  parallel compile jobs (default 2)
  --no-ccache     build without ccache (by default ccache is used when
                  installed; CCACHE_BASEDIR defaults to the work directory so
                  that the two revisions share compiled files)
  -h, --help      this text
EOF
}

runs=5
frames=9
scenario=""
steps=0
workdir=""
build_jobs=2
use_ccache=1
revisions=()
while [ $# -gt 0 ]; do
    case "$1" in
    -h | --help) usage; exit 0 ;;
    --runs) need_value "$1" $#; need_count "$1" "$2"; runs="$2"; shift 2 ;;
    --frames) need_value "$1" $#; need_count "$1" "$2"; frames="$2"; shift 2 ;;
    --scenario) need_value "$1" $#; scenario="$2"; shift 2 ;;
    --steps) steps=1; shift ;;
    --workdir) need_value "$1" $#; workdir="$2"; shift 2 ;;
    --build-jobs) need_value "$1" $#; need_count "$1" "$2"; build_jobs="$2"; shift 2 ;;
    --no-ccache) use_ccache=0; shift ;;
    -*) usage_error "unknown option '$1'" ;;
    *) revisions+=("$1"); shift ;;
    esac
done
[ ${#revisions[@]} -ge 1 ] || usage_error "give the base revision"
[ ${#revisions[@]} -le 2 ] || usage_error "at most two revisions: BASE [HEAD]"
[ ${#revisions[@]} -eq 2 ] || revisions+=(HEAD)

need_python
command -v git >/dev/null 2>&1 || die "git not found"
command -v cmake >/dev/null 2>&1 || die "cmake not found (bash scripts/install-deps.sh installs it)"
git -C "$repo_dir" rev-parse --git-dir >/dev/null 2>&1 || die "$repo_dir is not a git checkout"
shas=()
for rev in "${revisions[@]}"; do
    sha=$(git -C "$repo_dir" rev-parse --verify --quiet "$rev^{commit}") || die "no such revision '$rev'"
    shas+=("$sha")
done

created_worktrees=()
remove_work=0
if [ -z "$workdir" ]; then
    workdir=$(mktemp -d "${TMPDIR:-/tmp}/lustra-commits-XXXXXX")
    remove_work=1
fi
mkdir -p "$workdir"
workdir="$(cd "$workdir" && pwd)"
cleanup() {
    local tree
    for tree in "${created_worktrees[@]}"; do
        [ "$remove_work" -eq 0 ] || git -C "$repo_dir" worktree remove --force "$tree" 2>/dev/null || true
    done
    if [ "$remove_work" -eq 1 ]; then
        rm -rf "$workdir"
        git -C "$repo_dir" worktree prune 2>/dev/null || true
    fi
}
trap cleanup EXIT

if [ "$use_ccache" -eq 1 ] && command -v ccache >/dev/null 2>&1; then
    export CMAKE_CXX_COMPILER_LAUNCHER=ccache CMAKE_C_COMPILER_LAUNCHER=ccache
    # Both worktrees must lie below the base directory for them to share hits.
    case "$workdir/" in "${CCACHE_BASEDIR:-/nonexistent}"/*) ;; *) export CCACHE_BASEDIR="$workdir" ;; esac
fi

# prepare SIDE SHA: a worktree of SHA in WORKDIR/SIDE-SHORT and its build of
# lustra_bench in there (build/); sets bench_SIDE to the program.
prepare() {
    local side="$1" sha="$2"
    local tree="$workdir/$side-${sha:0:12}"
    if [ ! -e "$tree/.git" ]; then
        echo "$side: git worktree of ${sha:0:12} in $tree" >&2
        git -C "$repo_dir" worktree add --detach "$tree" "$sha" >/dev/null 2>&1 ||
            die "git worktree add $tree $sha failed"
        created_worktrees+=("$tree")
    fi
    [ "$(git -C "$tree" rev-parse HEAD)" = "$sha" ] || die "$tree holds another revision; give another --workdir"
    local log="$workdir/$side-build.log"
    echo "$side: building lustra_bench (log: $log)" >&2
    if ! { cmake -S "$tree" -B "$tree/build" -DCMAKE_BUILD_TYPE=Release -DLUSTRA_BUILD_TESTS=OFF &&
        cmake --build "$tree/build" --target lustra_bench -j "$build_jobs"; } >"$log" 2>&1; then
        tail -n 20 "$log" >&2
        die "the build of $side (${sha:0:12}) failed; see $log"
    fi
    [ -x "$tree/build/bench/lustra_bench" ] || die "$tree/build has no bench/lustra_bench"
    printf -v "bench_$side" '%s' "$tree/build/bench/lustra_bench"
}

prepare base "${shas[0]}"
prepare head "${shas[1]}"

bench_args=(--frames "$frames")
[ -z "$scenario" ] || bench_args+=(--scenario "$scenario")
echo "base ${shas[0]:0:12} (${revisions[0]}): $(git -C "$repo_dir" log -1 --format=%s "${shas[0]}")"
echo "head ${shas[1]:0:12} (${revisions[1]}): $(git -C "$repo_dir" log -1 --format=%s "${shas[1]}")"
echo "lustra_bench ${bench_args[*]}, $runs interleaved runs each"
machine_note
for ((r = 1; r <= runs; r++)); do
    order="base head"
    [ $((r % 2)) -eq 1 ] || order="head base"
    for side in $order; do
        program="bench_$side"
        out="$workdir/run-$r-$side.txt"
        "${!program}" "${bench_args[@]}" >"$out" 2>&1 || { cat "$out" >&2; die "lustra_bench of $side failed"; }
        [ -s "$out" ] || die "lustra_bench of $side printed nothing (no such scenario '$scenario'?)"
    done
    echo "run $r of $runs done ($order)" >&2
done

python3 - "$workdir" "$runs" "$steps" <<'EOF'
import re
import sys

workdir, runs, steps = sys.argv[1], int(sys.argv[2]), sys.argv[3] == "1"
header = re.compile(r"^(.+), (\d+) x (\d+): ([0-9.]+) ms per frame.*?of which the module ([0-9.]+) ms")
step = re.compile(r"^\s+(\S.*?)\s+([0-9.]+) ms$")
figures = {"base": {}, "head": {}}  # side -> key -> list over runs
order = []
notes = {"base": [], "head": []}
for side in ("base", "head"):
    for r in range(1, runs + 1):
        current = None
        for line in open("%s/run-%d-%s.txt" % (workdir, r, side)):
            line = line.rstrip("\n")
            m = header.match(line)
            if m:
                current = (m.group(1), "%sx%s" % (m.group(2), m.group(3)))
                for what, value in (("whole", m.group(4)), ("module", m.group(5))):
                    key = current + (what,)
                    figures[side].setdefault(key, []).append(float(value))
                    if key not in order:
                        order.append(key)
                continue
            m = step.match(line)
            if m and current and steps:
                key = current + (m.group(1),)
                figures[side].setdefault(key, []).append(float(m.group(2)))
                if key not in order:
                    order.append(key)
            elif not m and r == 1 and line.strip():
                notes[side].append(line.strip())  # e.g. which CPU variant ran
for side in ("base", "head"):
    for note in notes[side]:
        print("%s says: %s" % (side, note))
print("%-26s %-9s %-22s %9s %9s %8s %11s %11s" %
      ("scenario", "size", "figure (ms a frame)", "base min", "head min", "change", "base spread", "head spread"))
for key in order:
    b = figures["base"].get(key)
    h = figures["head"].get(key)
    name = key[2] if key[2] not in ("whole", "module") else {"whole": "render call", "module": "module"}[key[2]]
    if not b or not h:
        print("%-26s %-9s %-22s %9s %9s %8s" % (key[0], key[1], name,
              "%.2f" % min(b) if b else "-", "%.2f" % min(h) if h else "-", "only one"))
        continue
    change = (min(h) - min(b)) / min(b) * 100 if min(b) > 0 else 0.0
    print("%-26s %-9s %-22s %9.2f %9.2f %+7.1f%% %11.2f %11.2f" %
          (key[0], key[1], name, min(b), min(h), change, max(b) - min(b), max(h) - min(h)))
EOF
