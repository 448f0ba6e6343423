#!/usr/bin/env python3
"""Keeping a library in step: the second run of `batchmp3 --convert --existing update` over a
library already converted, which must find every MP3 up to date and encode nothing; and a run
after the titles of 100 files changed, which rewrites their tags (and names) without encoding.

Usage: library_bench.py BIN_DIR [WORK_DIR] [--files N] [--rounds N]
BIN_DIR holds batchmp3 (a Release build). Makes N (1000) short tagged FLAC files in folders of 10,
converts them once, then times the second run (target: under 2 s), with a name pattern from the
tags and without one, and the tags-only run (pattern), medians of the rounds (3). The machine may be
shared: each round's figure is printed beside the median, so the noise shows. Needs sox and
metaflac.
"""
import os
import statistics
import subprocess
import sys
import tempfile
import time


def arguments():
    args = sys.argv[1:]
    options = {"--files": 1000, "--rounds": 3}
    rest = []
    while args:
        a = args.pop(0)
        if a in options:
            options[a] = int(args.pop(0))
        else:
            rest.append(a)
    if not rest:
        sys.exit(__doc__)
    return rest[0], (rest[1] if len(rest) > 1 else None), options["--files"], options["--rounds"]


def make_library(root, count):
    seed = os.path.join(root, "seed.flac")
    subprocess.run(["sox", "-n", "-r", "44100", "-c", "2", "-b", "16", seed, "synth", "1",
                    "pluck", "C4"], check=True)
    with open(seed, "rb") as f:
        data = f.read()
    for k in range(count):
        folder = os.path.join(root, "music", "album%03d" % (k // 10))
        os.makedirs(folder, exist_ok=True)
        path = os.path.join(folder, "%02d track.flac" % (k % 10))
        with open(path, "wb") as f:
            f.write(data)
        subprocess.run(["metaflac", "--set-tag=ALBUM=Album %d" % (k // 10),
                        "--set-tag=TITLE=Song %d" % k, "--set-tag=TRACKNUMBER=%d" % (k % 10 + 1),
                        path], check=True)


def convert(program, root, extra, env, quiet=True):
    start = time.perf_counter()
    ran = subprocess.run([program, "--convert"] + (["-q"] if quiet else []) +
                         ["--existing", "update", "-o",
                          os.path.join(root, "out")] + extra + [os.path.join(root, "music")],
                         env=env, capture_output=True, text=True)
    return time.perf_counter() - start, ran


def main():
    bin_dir, work, count, rounds = arguments()
    program = os.path.join(bin_dir, "batchmp3")
    root = work or tempfile.mkdtemp(prefix="batchmp3-library-")
    os.makedirs(root, exist_ok=True)
    env = dict(os.environ, XDG_DATA_HOME=os.path.join(root, "data"))
    env.pop("DISPLAY", None)
    make_library(root, count)
    os.makedirs(os.path.join(root, "out"), exist_ok=True)
    for name, extra in (("pattern", ["-p", "{album}/{track:02} {title}"]), ("plain", [])):
        first, ran = convert(program, root, extra, env)
        if ran.returncode != 0:
            sys.exit("first run failed: " + ran.stderr[:2000])
        seconds = []
        for _ in range(rounds):
            took, ran = convert(program, root, extra, env)
            if ran.returncode != 0:
                sys.exit("second run failed: " + ran.stderr[:2000])
            seconds.append(took)
        took, ran = convert(program, root, extra, env, quiet=False)
        if "已是最新，跳过 %d 个文件" % count not in ran.stdout:
            sys.exit("the second run converted something: " + ran.stdout[-2000:])
        print("%-8s %d files: first run %.1f s, second run median %.2f s (%s)"
              % (name, count, first, statistics.median(seconds),
                 ", ".join("%.2f" % s for s in seconds)))
        if name == "pattern":
            retag_rounds(program, root, extra, env, count, rounds)


def retag_rounds(program, root, extra, env, count, rounds):
    changed = min(100, count)
    seconds = []
    for r in range(rounds):
        for k in range(changed):
            path = os.path.join(root, "music", "album%03d" % (k // 10), "%02d track.flac" % (k % 10))
            subprocess.run(["metaflac", "--remove-tag=TITLE", "--set-tag=TITLE=Song %d r%d" % (k, r),
                            path], check=True)
        took, ran = convert(program, root, extra, env, quiet=False)
        if ran.stdout.count("只有标签变了") != changed:
            sys.exit("the tags-only run did not retag %d files: %s" % (changed, ran.stdout[-2000:]))
        seconds.append(took)
    print("retag    %d of %d files: median %.2f s (%s)"
          % (changed, count, statistics.median(seconds), ", ".join("%.2f" % s for s in seconds)))


if __name__ == "__main__":
    main()
