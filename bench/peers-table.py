#!/usr/bin/python3
"""peers-table.py RESULTS [WORK]   Our rows against the peers, from one peers.sh run (markdown).

Reads RESULTS/results.tsv, peak-memory.tsv, doubling.tsv and env.txt as peers.sh and
peers-extra.sh wrote them; WORK (default /tmp/qbench/out) holds the outputs of the last run of
each row, used for the sanity checks (sizes, watermark present, PNG sizes).
Our targets are judged on our "def" row (default jobs), the way a person runs the program.
"""
import csv
import os
import re
import sys
from fractions import Fraction

OURS = "quillomar"
BOX = (640, 480)


def read_tsv(path):
    if not os.path.isfile(path):
        return []
    with open(path, newline="") as f:
        return list(csv.DictReader(f, delimiter="\t"))


def num(text):
    try:
        return float(text)
    except (TypeError, ValueError):
        return None


def fmt(v, digits=3):
    return "n/a" if v is None else f"{v:.{digits}g}"


def ratio(a, b):
    return a / b if a is not None and b else None


def verdict(ok):
    return "n/a" if ok is None else ("PASS" if ok else "FAIL")


def main(res, work):
    rows = read_tsv(os.path.join(res, "results.tsv"))
    for r in rows:
        r["ips"] = num(r["img_per_s"]) if r["median_s"] != "FAILED" else None
    mem = {r["tool"]: num(r["max_rss_MB"]) for r in read_tsv(os.path.join(res, "peak-memory.tsv"))}
    dbl = read_tsv(os.path.join(res, "doubling.tsv"))
    env = open(os.path.join(res, "env.txt")).read() if os.path.isfile(os.path.join(res, "env.txt")) else ""
    m = re.search(r"corpus: (\S+) \((\d+) JPEGs\)", env)
    corpus, n = (m.group(1), int(m.group(2))) if m else (None, None)

    def ours(w, th):
        return next((r for r in rows if r["workload"] == w and r["tool"] == OURS and r["threads"] == th), None)

    def peers(w):
        return [r for r in rows if r["workload"] == w and r["tool"] != OURS]

    out = ["## Quillomar against the peers (same run)"]

    def section(title, header, body):
        if body:
            out.extend(["", title, "", header, "|" + "---|" * header.count(" | ") + "---|"] + body)

    body = []
    for r in rows:
        if r["tool"] != OURS:
            continue
        peak = ""
        if r["workload"] == "W1" and r["threads"] == "def" and mem:
            peak = f"{fmt(mem.get(OURS))} (def), {fmt(mem.get(OURS + '-jobs2'))} (--jobs 2)"
        body.append(f"| {r['workload']} | {r['threads']} | {r['median_s']} | {fmt(r['ips'])} | {r['cpu_s']} | "
                    f"{r['cores_used']} | {r['files']} | {r['max_WxH']} | {peak} |")
    section("Our rows (`quillomar-batch`, threads 1 = `--jobs 1`, def = default jobs):",
            "| workload | threads | median s | img/s | CPU s | cores used | files | max WxH | peak MB |", body)

    lim = next((r for r in rows if r["workload"] == "L" and r["tool"] == "djpeg-scale+cjpeg"), None)
    od1 = ours("W1", "def")
    # The limit row is one process on one core; scale it by the cores our def row kept busy
    # (never below one: a run that waits part of the time still had a whole core).
    cores = max(1.0, num(od1["cores_used"]) or 1.0) if od1 and od1["ips"] else None
    limit = lim["ips"] * cores if lim and lim["ips"] and cores else None
    body = []
    for w in ("W1", "W2", "W3"):
        o1, od = ours(w, "1"), ours(w, "def")
        if not o1 and not od:
            continue
        for p in peers(w):
            body.append(f"| {w} | {p['tool']} | {p['threads']} | {fmt(p['ips'])} | {p['cpu_s'] or 'FAILED'} | "
                        f"{fmt(ratio(o1 and o1['ips'], p['ips']))} | {fmt(ratio(od and od['ips'], p['ips']))} |")
        if w == "W1" and lim:
            o1ips = o1 and o1["ips"]
            body.append(f"| W1 | libjpeg-turbo limit × {fmt(cores)} cores | 1 | {fmt(limit)} | {lim['cpu_s']} | "
                        f"{fmt(ratio(o1ips, lim['ips']))} (to 1 core) | {fmt(ratio(od and od['ips'], limit))} |")
    section("Our images per second divided by each peer row's (above 1 = we are faster):",
            "| workload | peer | threads | peer img/s | peer CPU s | ours 1 / peer | ours def / peer |", body)

    # The targets, each judged on our def row (default jobs).
    targets = []

    def target(name, mine, ref_name, ref_value, factor, unit="img/s", at_most=False):
        want = f"{'≤' if at_most else '≥'} {factor:g} ×"
        if mine is None:
            targets.append((name, "ours FAILED", want, "FAIL"))
        elif ref_value is None:
            targets.append((name, f"{fmt(mine)} {unit}; {ref_name} not measured", want, "n/a"))
        else:
            r = mine / ref_value
            targets.append((name, f"{fmt(mine)} {unit} = {r:.2f} × {ref_name} ({fmt(ref_value)})", want,
                            verdict(r <= factor if at_most else r >= factor)))

    def fastest(w):
        return max((p for p in peers(w) if p["ips"]), key=lambda p: p["ips"], default=None)

    for w, factor in (("W1", 1.5), ("W3", 1.0)):
        f, o = fastest(w), ours(w, "def")
        if o:
            target(f"{w} vs the fastest peer", o["ips"], f and f"{f['tool']} ({f['threads']})" or "a peer",
                   f and f["ips"], factor)
    if od1:
        target("W1 vs the libjpeg-turbo limit", od1["ips"], f"djpeg-scale+cjpeg × {fmt(cores)} cores", limit, 0.75)
    o2 = ours("W2", "def")
    if o2:
        gm = max((p for p in peers("W2") if p["tool"] == "gm-mogrify" and p["ips"]), key=lambda p: p["ips"],
                 default=None)
        pil = next((p for p in peers("W2") if p["tool"] == "pil" and p["ips"]), None)
        target("W2 vs gm-mogrify", o2["ips"], gm and f"gm-mogrify ({gm['threads']}, best)" or "gm-mogrify",
               gm and gm["ips"], 3)
        target("W2 vs Pillow", o2["ips"], "pil", pil and pil["ips"], 1.5)
    if OURS + "-jobs2" in mem:
        j2 = mem[OURS + "-jobs2"]
        target("W1 peak memory, --jobs 2, vs vipsthumbnail", j2, "vipsthumbnail", mem.get("vipsthumbnail"),
               1, "MB", at_most=True)
        target("W1 peak memory, --jobs 2, vs Pillow (pil-thumbnail)", j2, "pil-thumbnail",
               mem.get("pil-thumbnail"), 1.5, "MB", at_most=True)
        if j2 and mem.get("pil-full"):
            targets.append(("(for reference) vs Pillow without draft", f"{fmt(j2)} MB = "
                            f"{fmt(ratio(j2, mem['pil-full']))} × pil-full ({fmt(mem['pil-full'])} MB)", "-", "-"))
    if len(dbl) == 2:
        t1, t2 = num(dbl[0]["median_s"]), num(dbl[1]["median_s"])
        m1, m2 = num(dbl[0]["max_rss_MB"]), num(dbl[1]["max_rss_MB"])
        tr, mr = ratio(t2, t1), ratio(m2, m1)
        targets.append(("Doubled corpus: time", f"{fmt(t2)} s / {fmt(t1)} s = {tr:.3f}" if tr else "n/a", "2 ± 10 %",
                        verdict(None if tr is None else 1.8 <= tr <= 2.2)))
        targets.append(("Doubled corpus: peak memory", f"{fmt(m2)} MB / {fmt(m1)} MB = {mr:.3f}" if mr else "n/a", "1 ± 10 %",
                        verdict(None if mr is None else 0.9 <= mr <= 1.1)))
    section("Targets (ours = default jobs):", "| target | measured | want | result |",
            [f"| {a} | {b} | {c} | {d} |" for a, b, c, d in targets])

    lines = checks(rows, work, corpus, n)
    if lines:
        out += ["", "Checks of our outputs (the last run of each row):", ""] + [f"- {x}" for x in lines]
    print("\n".join(out))


def ext(q):
    """A quotient (Fraction) rounded to a 64-bit significand, ties to even: the x87 extended
    precision our size arithmetic uses (a double would give other sizes: 5312 x 2988 fitted to
    width 640 is 360 rows, not 359)."""
    if q == 0:
        return q
    e = q.numerator.bit_length() - q.denominator.bit_length()
    if Fraction(2) ** e > q:
        e -= 1
    m = q * Fraction(2) ** (63 - e)
    return Fraction(round(m)) * Fraction(2) ** (e - 63)


def fitted(w0, h0, box=BOX):
    """Our Fill size for "Use width and height(keep aspect)": the box first takes the picture's
    orientation, then the tighter side sets the scale and the other side is truncated."""
    bw, bh = box
    if (h0 > w0 and bw > bh) or (h0 < w0 and bw < bh):
        bw, bh = bh, bw
    if ext(Fraction(h0, bh)) >= ext(Fraction(w0, bw)):
        return max(1, int(ext(w0 / ext(Fraction(h0, bh))))), bh
    return bw, max(1, int(ext(h0 / ext(Fraction(w0, bw)))))


def checks(rows, work, corpus, n):
    """Untimed sanity checks: every picture written, W1/W2 at exactly our geometry's size (a
    portrait photo fits 480x640: the box takes the picture's orientation), W2 carries the mark,
    W3 keeps the size."""
    from PIL import Image, ImageChops
    lines = []
    for r in rows:
        if r["tool"] != OURS:
            continue
        name = f"{r['workload']} {r['threads']}"
        if r["median_s"] == "FAILED":
            lines.append(f"{name}: FAILED (see hyperfine.log)")
            continue
        ok = n is None or int(r["files"]) == n
        line = f"{name}: {r['files']} files" + ("" if ok else f" (want {n}) WRONG")
        d = os.path.join(work, f"{r['workload']}-{OURS}-{r['threads']}")
        if corpus and os.path.isdir(d):
            good, bad, portrait = 0, [], 0
            for f in sorted(os.listdir(d)):
                src = os.path.join(corpus, os.path.splitext(f)[0] + ".jpg")
                if not os.path.isfile(src):
                    bad.append(f"{f} (no source)")
                    continue
                with Image.open(src) as s, Image.open(os.path.join(d, f)) as o:
                    want = fitted(*s.size) if r["workload"] in ("W1", "W2") else s.size
                    fmt_ok = o.format == ("PNG" if r["workload"] == "W3" else "JPEG")
                    portrait += s.size[1] > s.size[0]
                    if o.size == want and fmt_ok:
                        good += 1
                    else:
                        bad.append(f"{f} {o.format} {o.size[0]}x{o.size[1]}, want {want[0]}x{want[1]}")
            what = "our fitted size" if r["workload"] in ("W1", "W2") else "the source's size"
            line += f"; {good} {'JPEG' if r['workload'] != 'W3' else 'PNG'} at {what}"
            if r["workload"] in ("W1", "W2") and portrait:
                line += f" ({portrait} portrait: inside 480x640)"
            if bad:
                line += "; WRONG: " + ", ".join(bad[:5]) + (" ..." if len(bad) > 5 else "")
        lines.append(line)
    d1, d2 = os.path.join(work, f"W1-{OURS}-def"), os.path.join(work, f"W2-{OURS}-def")
    ran = {(r["workload"], r["threads"]) for r in rows if r["tool"] == OURS and r["median_s"] != "FAILED"}
    if {("W1", "def"), ("W2", "def")} <= ran and os.path.isdir(d1) and os.path.isdir(d2):
        names = sorted(set(os.listdir(d1)) & set(os.listdir(d2)))
        marked = 0
        for f in names:
            a, b = Image.open(os.path.join(d1, f)).convert("L"), Image.open(os.path.join(d2, f)).convert("L")
            box = ImageChops.difference(a, b).point(lambda v: 255 if v > 48 else 0).getbbox()
            # The mark: a clear change in the lower half, reaching near the right and bottom edges.
            if box and box[1] >= a.height // 2 and box[2] >= a.width - 40 and box[3] >= a.height - 40:
                marked += 1
        lines.append(f"W2 def against W1 def: a change confined to the lower half and reaching the "
                     f"bottom-right corner (the mark) in {marked} of {len(names)}")
    return lines


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2] if len(sys.argv) > 2 else "/tmp/qbench/out")
