# peers-extra.sh   Quillomar's rows for the peer benchmark. Not run on its own: the kit's
# peers.sh sources it at its end (EXTRA=.../peers-extra.sh), so our rows are timed in the same
# run, on the same corpus and with the same `row` helper (hyperfine, cwd = corpus, output into
# "$OUT", RUNS / RUNS_W3 runs). bench/peers-compare.sh sets everything up.
#
# From peers.sh: CORPUS RES WORK RUNS N ONLY PY row(); we are in "$CORPUS"; `set -euo
# pipefail` is on, so every step here that may fail is guarded: a failure of ours must not
# cost the peers' table.
# From peers-compare.sh: QB (the quillomar-batch binary).
# Knobs: QB_W3_THREADS (default "1 def"): our W3 rows; ONLY may also name DBL (doubling).

export QB=${QB:?QB must name the quillomar-batch binary}
# A fresh program-data folder, so no Setup.ini, named settings or log of the user takes part.
export QBA="$WORK/quillomar-appdir"
export QBS="$RES/settings"
rm -rf "$QBA"; mkdir -p "$QBA" "$QBS"

# Every settings key, written out: W1 fits inside 640x480 keeping the aspect (Fill, "Use width
# and height(keep aspect)"), Lanczos3 (Filter=5; the shipped default 7 is Nearest), JPEG
# quality 80 (JPEGQuality=14: quality = 10 + 5 x index), no watermark, file times kept.
# OutputFolder comes from --output; InitDir and WmImage play no part.
qb_settings() { # qb_settings NAME [KEY=VALUE...]  -> $QBS/NAME.set (base W1 with overrides)
  local name=$1; shift
  awk -v over="$*" 'BEGIN { n = split(over, a, " "); for (i = 1; i <= n; i++) { split(a[i], kv, "="); o[kv[1]] = kv[2] } }
    { split($0, kv, "="); if (kv[1] in o) print kv[1] "=" o[kv[1]]; else print }' > "$QBS/$name.set" <<'EOF'
[Setup]
WatermarkChecked=0
AspectRatio=1
Filter=5
ChangeDPI=0
NewDPI=72
JPEGQuality=14
KeepDateTime=1
RemoveExif=0
KeepQuality=0
OutputFormat=0
PNGComp=9
RenameChecked=0
ResizeChecked=1
RsAlign=0
RsMode=1
RsType=3
RsValign=0
TIFFComp=0
RnMask=newname_####
WmType=0
WmText=Your Watermarking
RemoveBgChecked=0
WmBgColor=16777215
WmPosit=9
WmAngle=0
WmTrans=60
RsHeight=480
RsWidth=640
StartNo=1
BmpColor=0
GIFColor=0
PCXColor=0
TGAColor=0
ChangeCase=2
FontName=Arial
FontColor=16777215
FontSize=28
FontCharSet=1
FontStyle=1
FontPitch=0
EOF
}
qb_settings W1
# W2: the default text watermark, white bold 28 pt, opacity 60, bottom right, not turned.
qb_settings W2 WatermarkChecked=1
# W3: no resize, PNG at zlib level 9.
qb_settings W3 ResizeChecked=0 OutputFormat=2 PNGComp=9

qb_cmd() { # qb_cmd WORKLOAD [JOBS]  -> the command line, expanded later by hyperfine's bash
  printf '"$QB" --quiet --replace all --appdir "$QBA" --settings-file "$QBS/%s.set"%s --output "$OUT" *.jpg' \
    "$1" "${2:+ --jobs $2}"
}

qb_peak() { # qb_peak TOOL COMMAND >> TSV: max RSS and wall time as peers.sh measures them
  local tool=$1 cmd=$2
  /usr/bin/time -v -o "$WORK/time.txt" bash -c "$cmd" > /dev/null 2>&1 || true
  awk -v t="$tool" -F': ' '/Maximum resident/{m=$2/1024} /Elapsed/{e=$2} END{printf "%s\t%.0f\t%s\n", t, m, e}' "$WORK/time.txt"
}

for qb_w in W1 W2 W3; do
  [[ " $ONLY " == *" $qb_w "* ]] || continue
  qb_threads="1 def"
  [ "$qb_w" = W3 ] && qb_threads=${QB_W3_THREADS:-1 def}
  for qb_th in $qb_threads; do
    if [ "$qb_th" = 1 ]; then row "$qb_w" quillomar 1 "$(qb_cmd "$qb_w" 1)"
    else row "$qb_w" quillomar def "$(qb_cmd "$qb_w")"; fi
  done
done

if [[ " $ONLY " == *" MEM "* ]] && [ -f "$RES/peak-memory.tsv" ]; then
  echo ">> MEM quillomar" >&2
  export OUT="$WORK/mem-quillomar-j2"; rm -rf "$OUT"; mkdir -p "$OUT"
  qb_peak "quillomar-jobs2" "$(qb_cmd W1 2)" >> "$RES/peak-memory.tsv"
  export OUT="$WORK/mem-quillomar"; rm -rf "$OUT"; mkdir -p "$OUT"
  qb_peak "quillomar" "$(qb_cmd W1)" >> "$RES/peak-memory.tsv"
fi

# Doubling: the corpus twice (hard links a-NAME and b-NAME) against the corpus once, W1 with the
# default jobs, timed in one hyperfine call, then the peak memory of each (highest of RUNS runs).
qb_doubling() {
  local twice="$WORK/corpus-twice" f
  rm -rf "$twice"; mkdir -p "$twice"
  for f in *.jpg; do
    ln "$f" "$twice/a-$f" 2> /dev/null || cp "$f" "$twice/a-$f"
    ln "$f" "$twice/b-$f" 2> /dev/null || cp "$f" "$twice/b-$f"
  done
  export OUT="$WORK/doubling-out"
  local cmd; cmd=$(qb_cmd W1)
  # Whole runs of about a second vary by a tenth from run to run here: more runs than RUNS,
  # after one warm-up, so that the ratio is not one noisy sample against another.
  hyperfine --shell=bash --runs "${RUNS_DBL:-10}" --warmup 1 --style basic \
    --export-json "$RES/json/doubling.json" \
    --prepare "rm -rf '$OUT' && mkdir -p '$OUT'" \
    -n once "cd '$CORPUS' && $cmd" -n twice "cd '$twice' && $cmd" >> "$RES/hyperfine.log" 2>&1 || return 1
  # Peak memory: the highest of RUNS runs each, since which pictures meet in memory varies.
  local once_mem=0 twice_mem=0 i m
  for i in $(seq "$RUNS"); do
    rm -rf "$OUT"; mkdir -p "$OUT"
    m=$(cd "$CORPUS" && qb_peak once "$cmd" | cut -f2); [ "$m" -gt "$once_mem" ] && once_mem=$m
    rm -rf "$OUT"; mkdir -p "$OUT"
    m=$(cd "$twice" && qb_peak twice "$cmd" | cut -f2); [ "$m" -gt "$twice_mem" ] && twice_mem=$m
  done
  "$PY" - "$RES/json/doubling.json" "$N" "$once_mem" "$twice_mem" > "$RES/doubling.tsv" <<'EOF'
import json, sys
js, n, mem1, mem2 = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
r = json.load(open(js))["results"]
print("corpus\tfiles\tmedian_s\timg_per_s\tcpu_s\tmax_rss_MB")
for res, files, mem in ((r[0], n, mem1), (r[1], 2 * n, mem2)):
    print(f"{res['command']}\t{files}\t{res['median']:.3f}\t{files / res['median']:.3g}\t"
          f"{res['user'] + res['system']:.2f}\t{mem}")
EOF
  rm -rf "$twice"
}
if [[ " $ONLY " == *" DBL "* ]]; then
  echo ">> DBL quillomar (corpus once and twice)" >&2
  qb_doubling || { echo "doubling run FAILED (see $RES/hyperfine.log)" >&2; rm -f "$RES/doubling.tsv"; }
fi
true
