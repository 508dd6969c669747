#!/usr/bin/env bash
# peers-compare.sh [RESULTS]   quillomar-batch against the peer tools, side by side in one run.
#
# Installs the peers and what the build needs, builds quillomar-batch in Release, prepares the
# 40-photo corpus, runs the benchmark kit's peers.sh with our rows added (peers-extra.sh), then
# prints our ratio to every peer row and the speed and memory targets (also RESULTS/compare.md).
#
#   RESULTS          results folder (default /tmp/qbench/results/<date-time>); wiped first
#   QB_KIT           the benchmark kit (default <repo>/../shared/bench)
#   QUILLOMAR_BATCH  a quillomar-batch binary to time instead of building build-release
#   QB_CORPUS        a ready corpus folder of *.jpg (skips make-corpus.sh; for trial runs)
#   QB_PHOTOS        the photo pool make-corpus.sh draws from (default /tmp/qbench/photos)
#   QB_SKIP_INSTALL  1 = do not run the package installers
#   ONLY             "W1 W2 L MEM W3 DBL" (default all; DBL = the doubled-corpus run)
#   RUNS, RUNS_W3, W3_THREADS, QB_WORK   passed to peers.sh; QB_W3_THREADS: our W3 rows
set -euo pipefail
REPO=$(cd "$(dirname "$0")/.." && pwd)
KIT=$(realpath -m "${QB_KIT:-$REPO/../shared/bench}")
RES=$(realpath -m "${1:-/tmp/qbench/results/$(date +%Y%m%d-%H%M)}")
PY=/usr/bin/python3

for f in peers.sh make-corpus.sh install-peers.sh pil_batch.py; do
  [ -f "$KIT/$f" ] || {
    echo "peers-compare: the benchmark kit is missing: no $KIT/$f (set QB_KIT to its folder)" >&2
    exit 2
  }
done

if [ "${QB_SKIP_INSTALL:-0}" != 1 ]; then
  QUILLOMAR_BENCH=1 bash "$REPO/scripts/install-deps.sh"
  bash "$KIT/install-peers.sh"
fi

if [ -n "${QUILLOMAR_BATCH:-}" ]; then
  QB=$(realpath "$QUILLOMAR_BATCH")
else
  echo ">> building quillomar-batch (Release, build-release)" >&2
  cmake -S "$REPO" -B "$REPO/build-release" -G Ninja -DCMAKE_BUILD_TYPE=Release > /dev/null
  cmake --build "$REPO/build-release" --target quillomar-batch
  QB="$REPO/build-release/src/app/quillomar-batch"
fi
[ -x "$QB" ] || { echo "peers-compare: no quillomar-batch binary ($QB)" >&2; exit 2; }
"$QB" --version > /dev/null || { echo "peers-compare: $QB does not run" >&2; exit 2; }
# The build type of the binary, when it sits in a CMake build tree (<build>/src/app/).
BUILD_TYPE=$(sed -n 's/^CMAKE_BUILD_TYPE:STRING=//p' "$(dirname "$QB")/../../CMakeCache.txt" 2> /dev/null || true)
[ "$BUILD_TYPE" = Release ] ||
  echo "peers-compare: warning: $QB is not from a Release build (${BUILD_TYPE:-unknown})" >&2

if [ -n "${QB_CORPUS:-}" ]; then
  CORPUS=$(realpath "$QB_CORPUS")
else
  # make-corpus.sh rebuilds the folder from scratch; a folder that already holds exactly the
  # checked set is kept as it is (another run may be reading it).
  CORPUS=/tmp/qbench/corpus
  if [ -f "$KIT/corpus.sha256" ] && [ -d "$CORPUS" ] &&
    (cd "$CORPUS" && LC_ALL=C sha256sum -- *.jpg 2> /dev/null) | cmp -s - "$KIT/corpus.sha256"; then
    echo "corpus: $CORPUS matches corpus.sha256"
  else
    bash "$KIT/make-corpus.sh" "${QB_PHOTOS:-/tmp/qbench/photos}" "$CORPUS"
  fi
fi

export QB EXTRA="$REPO/bench/peers-extra.sh" ONLY=${ONLY:-W1 W2 L MEM W3 DBL}
bash "$KIT/peers.sh" "$CORPUS" "$RES"

echo
"$PY" "$REPO/bench/peers-table.py" "$RES" "${QB_WORK:-/tmp/qbench/out}" | tee "$RES/compare.md"
{ echo; echo "quillomar-batch: $QB ($("$QB" --version 2>&1 | head -n 1), build type ${BUILD_TYPE:-unknown})"
  echo "commit: $(git -C "$REPO" describe --always --dirty 2> /dev/null || echo unknown)"
} | tee -a "$RES/env.txt"
echo "results in $RES"
