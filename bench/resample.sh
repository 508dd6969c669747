#!/bin/sh
# Reducing a 24-megapixel photo to 640 x 480 with Lanczos3 and with Bicubic: our resampler
# against Pillow's Image.resize with the same kernels (LANCZOS, BICUBIC), side by side in one
# run. Pillow is timed inside Python, without decoding; ours inside the program, without
# reading. Both work on the same pixels, held in memory. Wall-clock time is what counts; the
# processor time beside it stays readable when other work shares the machine.
#
#   bench/resample.sh [BUILD_DIR]      (default: build-release beside this folder)
#
# Needs /usr/bin/python3 with Pillow (python3-pil). The photo is the largest of
# /tmp/qbench/photos (shared/bench/get-photos.sh), else an example photo, scaled to 6000 x 4000.
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build-release}
REPEATS=${REPEATS:-5}
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

if [ ! -x "$BUILD/bench/bench_resample" ]; then
  cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$BUILD" --target bench_resample >/dev/null
fi

PHOTO=$(ls -S /tmp/qbench/photos/*.jpg 2>/dev/null | head -n 1 || true)
[ -n "$PHOTO" ] || PHOTO="$ROOT/examples/Garden.jpg"

/usr/bin/python3 - "$PHOTO" "$WORK/photo.rgb" "$REPEATS" <<'PY'
import sys, time
from PIL import Image
photo, raw, repeats = sys.argv[1], sys.argv[2], int(sys.argv[3])
im = Image.open(photo).convert("RGB").resize((6000, 4000), Image.Resampling.LANCZOS)
open(raw, "wb").write(im.tobytes())
print(f"picture: {photo} scaled to 6000x4000 (24 megapixels); Pillow {Image.__version__}")
for name in ("LANCZOS", "BICUBIC"):
    wall = cpu = 1e30
    for _ in range(repeats):
        t, c = time.perf_counter(), time.process_time()
        out = im.resize((640, 480), Image.Resampling[name])
        wall = min(wall, time.perf_counter() - t)
        cpu = min(cpu, time.process_time() - c)
    print(f"pillow    {name:<10} 6000x4000 -> 640x480  wall {wall * 1000:7.1f} ms (Pillow uses 1 thread);"
          f"  cpu {cpu * 1000:7.1f} ms")
PY
"$BUILD/bench/bench_resample" "$WORK/photo.rgb" 6000 4000 "$REPEATS" 5 11
