#!/usr/bin/env bash
# Times our JPEG decoding (ReadPicture into a 24-bit picture) against libjpeg-turbo's djpeg on a
# 24-megapixel photo. Target: ours at most 1.15 x djpeg's time.
#
#   bench/jpeg-decode.sh [PHOTO]
#
# PHOTO defaults to the first JPEG in /tmp/qbench/photos (see ../shared/bench/get-photos.sh).
# Needs gm (graphicsmagick) and djpeg (libjpeg-turbo-progs); uses hyperfine when installed,
# a plain loop otherwise. Builds in build-bench-jpeg (Release) beside the sources.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$here/build-bench-jpeg}
work=${WORK_DIR:-/tmp/qbench/jpeg-decode}
photo=${1:-$(ls /tmp/qbench/photos/*.jpg 2>/dev/null | head -n 1 || true)}
runs=${RUNS:-10}

if [[ -z "$photo" || ! -f "$photo" ]]; then
  echo "no photo: pass one, or fill /tmp/qbench/photos" >&2
  exit 2
fi
mkdir -p "$work"
big=$work/24mp.jpg
if [[ ! -f "$big" || "$photo" -nt "$big" ]]; then
  gm convert "$photo" -resize '6000x4000!' -quality 90 "$big"
fi

cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLOMAR_CORE_ONLY=ON >/dev/null
cmake --build "$build" --target bench_jpeg_decode >/dev/null
bench=$build/bench/bench_jpeg_decode

echo "file: $big ($(gm identify -format '%wx%h' "$big"), $(stat -c %s "$big") bytes)"
echo "in process: $("$bench" "$big" "$runs")"

if command -v hyperfine >/dev/null; then
  hyperfine --warmup 2 --runs "$runs" --export-json "$work/result.json" \
    -n djpeg "djpeg -outfile /dev/null '$big'" \
    -n ours "'$bench' '$big' 1"
  ratio=$(/usr/bin/python3 -c "import json; r = json.load(open('$work/result.json'))['results']; \
m = {x['command']: x['mean'] for x in r}; print('%.3f' % (m['ours'] / m['djpeg']))")
else
  time_of() {
    local start end
    start=$(date +%s%N)
    for ((i = 0; i < runs; i++)); do "$@" >/dev/null; done
    end=$(date +%s%N)
    echo $(((end - start) / runs / 1000))
  }
  d=$(time_of djpeg -outfile /dev/null "$big")
  o=$(time_of "$bench" "$big" 1)
  echo "djpeg: $((d / 1000)) ms per decode; ours: $((o / 1000)) ms per decode"
  ratio=$(awk "BEGIN { printf \"%.3f\", $o / $d }")
fi
echo "ours / djpeg = $ratio (target <= 1.15), wall time"

# Processor time (user + system) is steadier than wall time on a busy machine.
if [[ -x /usr/bin/time ]]; then
  cpu_of() {
    for ((i = 0; i < runs; i++)); do /usr/bin/time -f "%U %S" "$@" 2>&1 >/dev/null | tail -n 1; done |
      awk '{ t += $1 + $2 } END { printf "%.1f", 1000 * t / NR }'
  }
  dc=$(cpu_of djpeg -outfile /dev/null "$big")
  oc=$(cpu_of "$bench" "$big" 1)
  echo "processor time per decode: djpeg $dc ms, ours $oc ms;" \
    "ours / djpeg = $(awk "BEGIN { printf \"%.3f\", $oc / $dc }")"
fi
