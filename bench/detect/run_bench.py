#!/usr/bin/env python3
"""The detection benchmark: the scene set through Quorvex's rule with the motion check off
and on, and through Debian's Motion (its defaults, picture_output on), side by side.

    bench/detect/run_bench.py SCENES_DIR DETECT_SCENES_BINARY [--skip-motion]

SCENES_DIR comes from bench/scenes/make_scenes.sh; the binary is the detect_scenes target of
a Release build with -DQUORVEX_BENCH=ON. Motion reads each clip itself (netcam_url
file://..., framerate 10, the clip's size) in real time; it is stopped with SIGINT after the
clip's length. Cost: whole-process CPU time and peak RSS for one 30 s clip at 768x576 10 fps,
played in real time by Quorvex's stream camera (detect_scenes --cost, check off and on) and
by Motion.
"""
import os
import subprocess
import sys
import tempfile
import time

SECONDS = 30


def timed(cmd):
    """Runs cmd under /usr/bin/time; returns (stdout, user+sys seconds, peak RSS KiB)."""
    with tempfile.NamedTemporaryFile("r", suffix=".time") as t:
        out = subprocess.run(["/usr/bin/time", "-o", t.name, "-f", "%U %S %M"] + cmd,
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True).stdout
        u, s, m = t.read().split()[-3:]
    return out, float(u) + float(s), int(m)


def mask_pgm(text, width, height, path):
    """Motion's mask file for the check's polygons: black where masked (pixel centres inside
    a polygon, even-odd per polygon), white elsewhere."""
    polys = [[tuple(map(float, p.split(","))) for p in poly.split()] for poly in text.split(";")]
    rows = []
    for y in range(height):
        yc = (y + 0.5) / height
        row = bytearray(b"\xff" * width)
        for poly in polys:
            xs = sorted(a[0] + (yc - a[1]) * (b[0] - a[0]) / (b[1] - a[1])
                        for a, b in zip(poly, poly[1:] + poly[:1]) if (a[1] <= yc) != (b[1] <= yc))
            for x0, x1 in zip(xs[::2], xs[1::2]):
                for x in range(width):
                    if x0 <= (x + 0.5) / width < x1:
                        row[x] = 0
        rows.append(bytes(row))
    with open(path, "wb") as f:
        f.write(b"P5\n%d %d\n255\n" % (width, height) + b"".join(rows))


def motion(clip, width, height, work, mask="-"):
    pics = os.path.join(work, "pics")
    os.makedirs(pics, exist_ok=True)
    conf = os.path.join(work, "motion.conf")
    with open(conf, "w") as f:
        f.write(f"""daemon off
setup_mode off
log_file {work}/motion.log
target_dir {pics}
netcam_url file://{os.path.abspath(clip)}
framerate 10
width {width}
height {height}
picture_output on
movie_output off
webcontrol_port 0
stream_port 0
""")
        if mask != "-":
            mask_pgm(mask, width, height, os.path.join(work, "mask.pgm"))
            f.write(f"mask_file {work}/mask.pgm\n")
    start = time.time()
    _, cpu, rss = timed(["timeout", "-s", "INT", str(SECONDS + 1), "motion", "-n", "-c", conf])
    names = sorted(os.listdir(pics))
    first = min((os.path.getmtime(os.path.join(pics, n)) for n in names), default=None)
    return len(names), (first - start if first else None), cpu, rss


def main():
    if len(sys.argv) < 3:
        print(__doc__)
        return 2
    scenes, binary = sys.argv[1], sys.argv[2]
    skip_motion = "--skip-motion" in sys.argv
    rows = subprocess.run([binary, scenes], stdout=subprocess.PIPE, text=True,
                          check=True).stdout.splitlines()
    header = rows[0].split("\t")
    manifest = {l.split("\t")[0]: l.split("\t") for l in open(os.path.join(scenes, "manifest.tsv"))}
    # Motion's results depend only on the clips: kept beside them between runs.
    cache_path = os.path.join(scenes, "motion-results.tsv")
    cache = {}
    if os.path.exists(cache_path):
        cache = {l.split("\t")[0]: tuple(l.rstrip("\n").split("\t")[1:]) for l in open(cache_path)}
    table = []
    for line in rows[1:]:
        r = dict(zip(header, line.split("\t")))
        name = r["scene"]
        m = ("-", "-")
        if name in cache:
            m = cache[name]
        elif not skip_motion:
            with tempfile.TemporaryDirectory() as work:
                n, first, _, _ = motion(os.path.join(scenes, name + ".mp4"), 768, 576, work,
                                        manifest[name][3])
            enter = manifest[name][2]
            delay = "-"
            if enter != "-" and first is not None:
                delay = f"{first - float(enter):.1f}"
            m = (str(n), delay)
            with open(cache_path, "a") as f:
                f.write(f"{name}\t{m[0]}\t{m[1]}\n")
        table.append((r, m))

    print("| scene | expected | off: pictures / warnings / delay s | on (level and check): "
          "pictures / warnings / delay s | on (check alone): pictures / warnings / delay s | "
          "Motion: pictures / first picture s |")
    print("|---|---|---|---|---|---|")
    for r, m in table:
        def cell(p):
            return f"{r[p + '_pictures']} / {r[p + '_warnings']} / {r[p + '_delay']}"
        print(f"| {r['scene']} | {r['label']} | {cell('off')} | {cell('gated')} | {cell('on')} | "
              f"{m[0]} / {m[1]} |")

    clip = os.path.join(scenes, "person_night.mp4")
    print(f"\nCost, {clip}: {SECONDS} s of 768x576 at 10 fps in real time\n")
    print("| process | CPU s | peak RSS MiB |")
    print("|---|---|---|")
    # Three runs each, taken in turns; the median is shown (other work on the machine
    # shifts single runs).
    runs = {"off": [], "on": [], "motion": []}
    for _ in range(3):
        for mode in ("off", "on"):
            _, cpu, rss = timed([binary, "--cost", clip, str(SECONDS), mode])
            runs[mode].append((cpu, rss))
        if not skip_motion:
            with tempfile.TemporaryDirectory() as work:
                _, _, cpu, rss = motion(clip, 768, 576, work)
            runs["motion"].append((cpu, rss))
    names = {"off": "Quorvex stream camera + level, check off",
             "on": "Quorvex stream camera + level, check on", "motion": "Motion 4.5"}
    for key, values in runs.items():
        if values:
            cpu = sorted(v[0] for v in values)[len(values) // 2]
            rss = sorted(v[1] for v in values)[len(values) // 2]
            print(f"| {names[key]} | {cpu:.2f} | {rss / 1024:.1f} |")
    return 0


if __name__ == "__main__":
    sys.exit(main())
