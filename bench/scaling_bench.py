#!/usr/bin/env python3
"""How one long file's encode would scale past the cores this machine has: each part's CPU time,
measured, and a model that predicts the time on more cores from it.

Usage: scaling_bench.py BIN_DIR [WORK_DIR] [--minutes M] [--kbps K] [--rounds N] [--wav FILE]
BIN_DIR holds parts_driver (a Release build). Needs lame, ffmpeg and sox; the recording is M
minutes (60) of the CC-licensed soundtrack Debian ships in hyperrogue-music (BENCH=1
scripts/install-deps.sh), decoded by ffmpeg and repeated as needed, or the WAV given.

1. Times, alternating, N rounds (3): "lame -b K" on the file, our encode in one piece, with 2
   threads, and with 2 threads held to one core (taskset), and prints the medians.
2. The per-part CPU of the 2-thread run: the segments (pre-roll and seam windows included: their
   cost beyond the one-piece encode is the per-segment overhead), the loudness pass (its reading
   and scaling apart), the join's work per segment and the run-ons at seams.
3. A model: the segments on a pool of worker threads that start at most threads + 1 segments
   ahead of the join, the join's work on each segment in order once it is encoded, and the
   loudness pass, every runnable thread sharing the cores equally. Checked against the measured
   1-core and 2-core times, then the predictions for 4, 8 and 16 cores (as many worker threads,
   the file cut as the encoder cuts it for that many cores, the measured parts shared out over
   those segments), and the critical path: the longest chain of work that cannot run side by
   side.
4. Batches as the encoder schedules them: files in list order, each in one piece on a core of
   its own, and a file cut into segments only where the rest of the batch (what the files still
   running have left, the files handed over ahead, one more than the cores, and those to come,
   each as long as the average of those handed over) could not keep the other cores busy while
   it ran in one piece. From the measured one-piece speed and the
   measured cost of cutting, the time on 2, 4, 8 and 16 cores against lame one file after
   another, for the batches the schedule benchmark runs.
"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import wave

from parallel_bench import SOUNDTRACK, soundtrack_clips

def timed(args):
    start = time.perf_counter()
    out = subprocess.run(args, check=True, capture_output=True, text=True).stdout
    return time.perf_counter() - start, out


def parse_parts(out):
    parts = {"segment": {}, "join": {}, "runon": {}}
    figures = {}
    for line in out.splitlines():
        words = line.split()
        if len(words) == 3 and words[0] in parts:
            parts[words[0]][int(words[1])] = float(words[2])
        elif len(words) == 2:
            figures[words[0]] = float(words[1])
    count = int(figures.get("segments", 0))
    for name, values in parts.items():
        figures[name] = [values.get(i, 0.0) for i in range(count)]
    return figures


def simulate(parts, cores, threads):
    """Wall time of the encode on `cores` cores with `threads` workers, every runnable thread
    getting an equal share of the cores (at most one core each)."""
    n = len(parts["segment"])
    work = parts["segment"]
    join = parts["join"]
    ahead = threads + 1
    # The loudness pass: one task from the start, on a thread of its own.
    loudness_left = parts["loudness"]
    done = [False] * n
    worker_task = [None] * threads  # [segment, cpu left]
    next_segment, joined = 0, 0
    join_task = None  # [segment, cpu left]
    join_next = 0
    now = 0.0
    while True:
        # Idle workers take the next segments the join allows.
        for w in range(threads):
            if worker_task[w] is None and next_segment < n and next_segment <= joined + ahead:
                worker_task[w] = [next_segment, work[next_segment]]
                next_segment += 1
        if join_task is None and join_next < n and done[join_next]:
            joined = join_next
            join_task = [join_next, join[join_next]]
            join_next += 1
            continue  # the join moved on: more segments may start
        running = [t for t in worker_task if t is not None]
        if join_task is not None:
            running.append(join_task)
        loudness_running = loudness_left > 1e-12
        count = len(running) + (1 if loudness_running else 0)
        if count == 0:
            return now
        speed = min(1.0, cores / count)
        step = min([t[1] for t in running] + ([loudness_left] if loudness_running else []))
        now += step / speed
        for t in running:
            t[1] -= step
        if loudness_running:
            loudness_left -= step
        for w in range(threads):
            if worker_task[w] is not None and worker_task[w][1] <= 1e-12:
                done[worker_task[w][0]] = True
                worker_task[w] = None
        if join_task is not None and join_task[1] <= 1e-12:
            join_task = None


BATCHES = [
    ("one 27-minute recording", [1620]),
    ("six recordings of 2-9 minutes", [120, 180, 240, 300, 420, 540]),
    ("6 even tracks of 3-4 minutes", [200, 215, 190, 225, 205, 210]),
    ("ten 90 s files", [90] * 10),
    ("40 clips of 10 s", [10] * 40),
    ("mixed: 2 x 5 min, 20 x 10 s, 5 x 45 s", [300] * 2 + [10] * 20 + [45] * 5),
]


def simulate_batch(lengths, cores, rate, cut_cost, segment_seconds, min_cut_seconds=30):
    """Wall time of a batch (`lengths` in seconds of audio) on `cores`: `rate` CPU seconds per
    second of audio in one piece, `cut_cost` the share a cut file costs more, cut into segments of
    about `segment_seconds`. Follows the encoder's rule for when a file starting is cut."""
    n = len(lengths)
    left = [length * rate for length in lengths]  # one-piece work not yet done
    state = ["waiting"] * n  # waiting, whole (on a core), cut, done
    segments = [[] for _ in range(n)]  # a cut file's segments not yet taken
    running = []  # [file, work left] on each busy core
    now = 0.0

    def others_left(i):
        # Files not handed over yet (beyond one more than the cores after the file being
        # converted) count as long as those handed over are on average.
        current = next((k for k in range(n) if state[k] != "done"), n)
        horizon = min(n, current + cores + 2)
        to_come = (n - horizon) * sum(lengths[:horizon]) / horizon * rate
        return (to_come +
                sum(left[k] for k in range(horizon) if k != i and state[k] == "waiting") +
                sum(t[1] for t in running if t[0] != i) +
                sum(sum(segments[k]) for k in range(n) if k != i))

    def next_unit():
        for i in range(n):
            if state[i] == "cut" and segments[i]:
                return i, segments[i].pop(0)
            if state[i] == "waiting":
                others = others_left(i)
                if (lengths[i] >= min_cut_seconds and
                        others < (cores - 1 - cut_cost) * left[i]):
                    state[i] = "cut"
                    count = max(2, round(lengths[i] / segment_seconds))
                    segments[i] = [left[i] * (1 + cut_cost) / count] * count
                    left[i] = 0.0
                    return i, segments[i].pop(0)
                state[i] = "whole"
                work, left[i] = left[i], 0.0
                return i, work
        return None

    while True:
        while len(running) < cores:
            unit = next_unit()
            if unit is None:
                break
            running.append(list(unit))
        if not running:
            return now
        step = min(t[1] for t in running)
        now += step
        for t in running:
            t[1] -= step
        for t in [t for t in running if t[1] <= 1e-12]:
            running.remove(t)
            i = t[0]
            if state[i] == "whole" or (state[i] == "cut" and not segments[i] and
                                       not any(r[0] == i for r in running)):
                state[i] = "done"


def plan_seconds(seconds, cores, rate=44100, spf=1152):
    """The segments' lengths the encoder cuts a file of `seconds` into for `cores`: a share of
    what is left (twice the cores' number), 15 s to a minute, the last two halving the rest."""
    total, low, high = int(seconds * rate / spf), 15 * rate // spf, 60 * rate // spf
    starts, at = [0], 0
    while total - at >= 2 * low:
        left = total - at
        at += left // 2 if left < 3 * low else min(max(left // (2 * max(2, cores)), low), high)
        starts.append(at)
    return [(b - a) * spf / rate for a, b in zip(starts, starts[1:] + [total])]


def replan(parts, seconds, cores, seam):
    """The measured parts redistributed over the segments `cores` would get: encoding in
    proportion to length, plus a seam's cost for every segment after the first."""
    lengths = plan_seconds(seconds, cores)
    measured = len(parts["segment"])
    music = sum(parts["segment"]) - seam * (measured - 1)
    joins = sum(parts["join"])
    planned = dict(parts)
    planned["segment"] = [music * l / seconds + (seam if i else 0.0)
                          for i, l in enumerate(lengths)]
    planned["join"] = [joins * l / seconds for l in lengths]
    return planned


def critical_path(parts):
    """The longest chain of work that must run one after another, whatever the cores: a segment,
    then the join's work from it to the end; or the loudness pass on its own thread."""
    n = len(parts["segment"])
    best = parts["loudness"]
    for i in range(n):
        chain = parts["segment"][i] + sum(parts["join"][i:])
        best = max(best, chain)
    return best


def main():
    args = [a for a in sys.argv[1:]]
    def option(name, default):
        if name in args:
            value = args[args.index(name) + 1]
            del args[args.index(name):args.index(name) + 2]
            return value
        return default
    minutes = float(option("--minutes", 60))
    kbps = int(option("--kbps", 128))
    rounds = int(option("--rounds", 3))
    wav = option("--wav", None)
    if not args or not all(shutil.which(t) for t in ("lame", "ffmpeg", "taskset")):
        sys.exit(__doc__)
    driver = os.path.join(os.path.abspath(args[0]), "parts_driver")
    work = tempfile.mkdtemp(prefix="scaling bench ", dir=args[1] if len(args) > 1 else None)
    try:
        if not wav:
            wav = next(iter(soundtrack_clips(work, "soundtrack", [minutes * 60])), None)
            if not wav:
                sys.exit(f"no recordings in {SOUNDTRACK} (BENCH=1 scripts/install-deps.sh)")
        with wave.open(wav) as w:
            seconds = w.getnframes() / w.getframerate()
        print(f"{os.path.basename(wav)}: {seconds / 60:.1f} min at {kbps} kbit/s; cores "
              f"{os.cpu_count()}, load {os.getloadavg()[0]:.2f}")
        mp3 = os.path.join(work, "out.mp3")
        lame, one, two, pinned, runs = [], [], [], [], []
        for _ in range(rounds):
            lame.append(timed(["lame", "--quiet", "-b", str(kbps), wav, mp3])[0])
            one.append(parse_parts(timed([driver, "encode", wav, mp3, str(kbps), "1"])[1]))
            run = parse_parts(timed([driver, "encode", wav, mp3, str(kbps), "2"])[1])
            two.append(run["wall"])
            runs.append(run)
            pinned.append(parse_parts(timed(["taskset", "-c", "0", driver, "encode", wav, mp3,
                                             str(kbps), "2"])[1])["wall"])
        lame_wall = statistics.median(lame)
        one_cpu = statistics.median(r["cpu"] for r in one)
        one_wall = statistics.median(r["wall"] for r in one)
        two_wall, pinned_wall = statistics.median(two), statistics.median(pinned)
        parts = sorted(runs, key=lambda r: r["wall"])[len(runs) // 2]
        print(f"lame {lame_wall:.2f} s; one piece {one_wall:.2f} s ({one_cpu:.2f} s CPU); "
              f"2 threads {two_wall:.2f} s (ratio {two_wall / lame_wall:.3f}); 2 threads on one "
              f"core {pinned_wall:.2f} s; medians of {rounds}")

        n = len(parts["segment"])
        segments = sum(parts["segment"])
        joins = sum(parts["join"])
        runons = sum(parts["runon"])
        loud = parts["loudness"]
        total = segments + loud + joins
        # What cutting the file costs: pre-rolls, seam windows, the join and the separate
        # loudness pass, less the analysis LAME would do inside a one-piece encode.
        overhead = parts["cpu"] - one_cpu
        print(f"\nCPU by part, 2 threads ({n} segments, {parts['cpu']:.2f} s for the process):")
        rows = [
            ("segments' encoders", segments),
            ("loudness pass", loud),
            ("  of which reading and scaling the input", parts["loudness_reading"]),
            ("join (parse, fit, write)", joins - runons),
            ("run-ons at seams", runons),
        ]
        for label, value in rows:
            print(f"  {label:58} {value:7.3f} s  {100 * value / total:5.1f} %")
        print(f"  the process's CPU beyond the one-piece encode's: {overhead:.3f} s, "
              f"{overhead / n * 1000:.1f} ms per segment")

        print("\nmodel against measurement:")
        for cores, measured in ((1, pinned_wall), (2, two_wall)):
            predicted = simulate(parts, cores, 2)
            print(f"  {cores} core(s), 2 threads: predicted {predicted:.2f} s, measured "
                  f"{measured:.2f} s ({100 * (predicted / measured - 1):+.1f} %)")
        seam = max(0.0, overhead) / max(1, n - 1)
        print(f"\npredicted, as many threads as cores, the file cut as it is on that many "
              f"(lame {lame_wall:.2f} s one piece):")
        for cores in (2, 4, 8, 16):
            planned = replan(parts, seconds, cores, seam)
            predicted = simulate(planned, cores, cores)
            path = critical_path(planned)
            print(f"  {cores:2} cores, {len(planned['segment']):3} segments: {predicted:6.2f} s, "
                  f"{lame_wall / predicted:5.2f} x lame (critical path {path:.2f} s)")

        rate, lame_rate = one_cpu / seconds, lame_wall / seconds
        cut_cost = overhead / one_cpu
        print(f"\nbatches, predicted from the one-piece speed and a cut file's cost "
              f"(+{100 * cut_cost:.1f} %), as a share of lame's time one file after another "
              f"(the limit is 1/cores):")
        print(f"  {'batch':40} " + " ".join(f"{c:>6} cores" for c in (2, 4, 8, 16)))
        for label, lengths in BATCHES:
            lame_batch = sum(lengths) * lame_rate
            shares = [simulate_batch(lengths, c, rate, cut_cost, seconds / n) / lame_batch
                      for c in (2, 4, 8, 16)]
            print(f"  {label:40} " + " ".join(f"{v:12.3f}" for v in shares))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
