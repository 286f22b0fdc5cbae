#!/usr/bin/env bash
# Renders every golden case afresh and shows what changed against the
# references in tests/golden before any of them is replaced:
#   - per case, the number of changed pixels, the largest channel difference
#     and the first changed pixel;
#   - per changed case, a PNG (old | new | difference x 8, each scaled x 4)
#     in the output folder.
# Nothing is replaced unless --accept is given; then the new renders become
# the references (explain the change in the commit).
#
#   scripts/update-golden.sh [--accept] [--build DIR] [--out DIR]
set -euo pipefail
cd "$(dirname "$0")/.."

accept=0
build=build
out=build/golden-changes
while [ $# -gt 0 ]; do
    case $1 in
    --accept) accept=1 ;;
    --build) build=$2; shift ;;
    --out) out=$2; shift ;;
    -h | --help) sed -n '2,13p' "$0"; exit 0 ;;
    *) echo "update-golden: unknown argument '$1' (see --help)" >&2; exit 2 ;;
    esac
    shift
done

cmake --build "$build" -j2 --target lustra_host_tests LustraFex
fresh=$(mktemp -d)
trap 'rm -rf "$fresh"' EXIT
LUSTRA_UPDATE_GOLDEN=1 LUSTRA_GOLDEN_OUT="$fresh" \
    "$build/tests/lustra_host_tests" --gtest_filter='Renders/Golden.*' >/dev/null
mkdir -p "$out"

changed=$(python3 - "$fresh" tests/golden "$out" <<'PY'
import struct, sys, zlib
from pathlib import Path

fresh, golden, out = (Path(a) for a in sys.argv[1:4])
W, H, SCALE = 64, 36, 4

def rgb(pixels):
    # Host pixels: Y, Cb, Cr in bytes 3, 2, 1 of each little-endian word.
    result = []
    for i in range(0, len(pixels), 4):
        cr, cb, y = pixels[i + 1] - 128, pixels[i + 2] - 128, pixels[i + 3]
        clamp = lambda v: max(0, min(255, int(v)))
        result.append((clamp(y + 1.402 * cr), clamp(y - 0.344136 * cb - 0.714136 * cr),
                       clamp(y + 1.772 * cb)))
    return result

def png(path, width, height, rows):
    raw = b"".join(b"\0" + bytes(c for p in row for c in p) for row in rows)
    chunk = lambda kind, data: (struct.pack(">I", len(data)) + kind + data +
                                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    path.write_bytes(b"\x89PNG\r\n\x1a\n" +
                     chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
                     chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))

count = 0
for new_path in sorted(fresh.glob("*.bin")):
    name = new_path.stem
    old_path = golden / new_path.name
    new = new_path.read_bytes()
    old = old_path.read_bytes() if old_path.exists() else b""
    if old == new:
        print(f"  {name}: unchanged", file=sys.stderr)
        continue
    count += 1
    if len(old) != len(new):
        print(f"  {name}: new case or size changed ({len(old)} -> {len(new)} bytes)",
              file=sys.stderr)
        old = bytes(len(new))
    diff = [i // 4 for i in range(0, len(new), 4) if old[i:i + 4] != new[i:i + 4]]
    largest = max(abs(a - b) for a, b in zip(old, new))
    first = diff[0]
    print(f"  {name}: {len(diff)} of {W * H} pixels changed, largest byte difference "
          f"{largest}, first at (x {first % W}, y {first // W})", file=sys.stderr)
    a, b = rgb(old), rgb(new)
    d = [tuple(min(255, 8 * abs(p - q)) for p, q in zip(u, v)) for u, v in zip(a, b)]
    rows = []
    for y in range(H * SCALE):
        row = []
        for image in (a, b, d):
            for x in range(W * SCALE):
                row.append(image[(y // SCALE) * W + x // SCALE])
            row.extend([(255, 0, 255)] * 2)
        rows.append(row)
    png(out / f"{name}.png", len(rows[0]), len(rows), rows)
print(count)
PY
)

if [ "$changed" -eq 0 ]; then
    echo "update-golden: every render equals its reference; nothing to accept"
    exit 0
fi
echo "update-golden: $changed case(s) changed; old | new | difference in $out/*.png"
if [ $accept -eq 1 ]; then
    cp "$fresh"/*.bin tests/golden/
    echo "update-golden: references replaced; explain the change in the commit"
else
    echo "update-golden: references kept; run again with --accept to replace them"
fi
