#!/usr/bin/env python3
"""Whole batches on every core, as a user meets them, against the lame command one file after
another: the time and the CPU time, through the window and through "batchmp3 --convert".

Usage: schedule_bench.py BIN_DIR [WORK_DIR] [--rounds N] [--only LABEL-WORD] [--from ROW]
BIN_DIR holds batch_driver, batchmp3 and both component libraries (a Release build). Needs lame,
mpg123, ffmpeg, sox and mp3val, and the CC-licensed soundtrack Debian ships in hyperrogue-music
(BENCH=1 scripts/install-deps.sh).

Every batch is cut from the soundtrack (or is its own tracks, for the album). In each of N rounds
(3) lame, the window (batch_driver: click to completion message, offscreen, every core) and the
terminal run one after another, in an order that turns each round, each once the machine is
quiet; the medians are reported as a share of lame's time, with the batch's CPU time against
lame's (goal: at most 1.04 for batches of four files or more). The window only offers seven
constant rates, so the other rates run in the terminal alone. Every output is checked against lame's: the
same size (within 1 % at a variable rate), radio gain, clean for the decoders and mp3val, exactly
the input's length when decoded.
"""
import glob
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

from parallel_bench import (RATE, SOUNDTRACK, check_mode, frames_of, remove_outputs,
                            soundtrack_clips, wait_for_quiet)

ROUNDS = 3
WINDOW_RATES = (32, 56, 64, 96, 112, 128, 256)  # the window's option buttons


# Not /usr/bin/time: it reports each process in hundredths of a second, which on 40 short lame
# runs loses a tenth of their CPU time.
def children_cpu():
    times = os.times()
    return times.children_user + times.children_system


def timed(command, **kw):
    """Wall and CPU seconds of a command and its children."""
    cpu, start = children_cpu(), time.perf_counter()
    out = subprocess.run(command, check=True, capture_output=True, text=True, **kw).stdout
    return time.perf_counter() - start, children_cpu() - cpu, out


def lame(wavs, option):
    wall, cpu = 0.0, 0.0
    for wav in wavs:
        w, c, _ = timed(["lame", "--quiet"] + option + [wav, wav[:-3] + "lame.mp3"])
        wall, cpu = wall + w, cpu + c
    return wall, cpu


def window(bin_dir, work, wavs, option):
    listing = os.path.join(work, "list.txt")
    with open(listing, "w", encoding="utf-8") as f:
        f.write("\n".join(wavs) + "\n")
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    _, cpu, out = timed([os.path.join(bin_dir, "batch_driver"), listing, "0", option[1]], env=env)
    figures = dict(line.split() for line in out.splitlines() if len(line.split()) == 2)
    return float(figures["seconds"]), cpu


def terminal(bin_dir, work, wavs, option):
    env = dict(os.environ, XDG_DATA_HOME=os.path.join(work, "data"))
    for key in ("DISPLAY", "WAYLAND_DISPLAY"):
        env.pop(key, None)
    wall, cpu, _ = timed([os.path.join(bin_dir, "batchmp3"), "--convert", "-q"] + option + wavs,
                         env=env)
    return wall, cpu


def album(work):
    """The first six of the soundtrack's own recordings that decode, as they are."""
    wavs = []
    for track in sorted(glob.glob(os.path.join(SOUNDTRACK, "*.ogg"))):
        wav = os.path.join(work, "album " + os.path.basename(track)[:-3] + "wav")
        if subprocess.run(["ffmpeg", "-v", "error", "-y", "-i", track, "-ar", str(RATE),
                           "-c:a", "pcm_s16le", wav], capture_output=True).returncode == 0:
            wavs.append(wav)
        elif os.path.exists(wav):
            os.remove(wav)
        if len(wavs) == 6:
            break
    return wavs


def floating(work):
    wav = soundtrack_clips(work, "float source", [600])[0]
    out = os.path.join(work, "float 00.wav")
    subprocess.run(["sox", wav, "-e", "floating-point", "-b", "32", out], check=True)
    os.remove(wav)
    return [out]


# label, files, lame option, target (share of lame's time)
ROWS = [
    ("one 27-minute recording", lambda w: soundtrack_clips(w, "long", [1620]), ["-b", "128"],
     0.51),
    ("one 27-minute recording", lambda w: soundtrack_clips(w, "long", [1620]), ["-V", "2"], 0.52),
    ("10 minutes", lambda w: soundtrack_clips(w, "ten", [600]), ["-V", "2"], 0.53),
    ("10 minutes", lambda w: soundtrack_clips(w, "ten", [600]), ["-b", "320"], 0.53),
    ("6-track album", album, ["-b", "128"], 0.52),
    ("6 even tracks of 3-4 minutes",
     lambda w: soundtrack_clips(w, "even", [200, 215, 190, 225, 205, 210]), ["-V", "2"], 0.53),
    ("six recordings of 2-9 minutes",
     lambda w: soundtrack_clips(w, "six", [120, 180, 240, 300, 420, 540]), ["-b", "128"], 0.53),
    ("ten 90 s files", lambda w: soundtrack_clips(w, "ninety", [90] * 10), ["-b", "128"], 0.53),
    ("10 minutes of 32-bit float", floating, ["-b", "128"], 0.55),
    ("10 minutes at 96 kbit/s (rate lowered)", lambda w: soundtrack_clips(w, "low", [600]),
     ["-b", "96"], 0.55),
    ("40 clips of 10 s", lambda w: soundtrack_clips(w, "clips", [10] * 40), ["-b", "128"], 0.53),
    ("mixed: 2 x 5 min, 20 x 10 s, 5 x 45 s",
     lambda w: soundtrack_clips(w, "mixed", [300] * 2 + [10] * 20 + [45] * 5), ["-b", "128"],
     0.53),
]


def measure(bin_dir, work, label, wavs, option, target):
    faces = {"terminal": terminal}
    if option[0] == "-b" and int(option[1]) in WINDOW_RATES:
        faces = {"window": window, "terminal": terminal}
    runs = {name: [] for name in ["lame"] + list(faces)}
    problems = []
    for round_number in range(ROUNDS):
        order = list(runs)
        order = order[round_number % len(order):] + order[:round_number % len(order)]
        for name in order:
            wait_for_quiet()
            if name == "lame":
                runs[name].append(lame(wavs, option))
                continue
            runs[name].append(faces[name](bin_dir, work, wavs, option))
            for wav in wavs:
                problems += check_mode(wav[:-3] + "mp3", wav[:-3] + "lame.mp3", frames_of(wav),
                                       work, option[0] == "-b")
            remove_outputs(wavs, ["mp3"])
    lame_wall = statistics.median(w for w, _ in runs["lame"])
    lame_cpu = statistics.median(c for _, c in runs["lame"])
    minutes = sum(frames_of(w) for w in wavs) / RATE / 60
    print(f"{label} ({len(wavs)} files, {minutes:.1f} min), {' '.join(option)}: lame "
          f"{lame_wall:.2f} s, CPU {lame_cpu:.2f} s")
    for name in faces:
        wall = statistics.median(w for w, _ in runs[name])
        cpu = statistics.median(c for _, c in runs[name])
        rounds = " ".join(f"{w / l[0]:.3f}" for (w, _), l in zip(runs[name], runs["lame"]))
        print(f"  {name}: {wall / lame_wall:.3f} of lame's time (target <= {target:.2f}), CPU "
              f"{cpu / lame_cpu:.3f} of lame's; rounds {rounds}")
    print("  outputs: " + ("valid" if not problems else "; ".join(sorted(set(problems)))))
    sys.stdout.flush()
    remove_outputs(wavs)


def main():
    global ROUNDS
    args = sys.argv[1:]
    only = None
    if "--rounds" in args:
        at = args.index("--rounds")
        ROUNDS = int(args[at + 1])
        del args[at:at + 2]
    first = 0
    if "--from" in args:
        at = args.index("--from")
        first = int(args[at + 1])
        del args[at:at + 2]
    if "--only" in args:
        at = args.index("--only")
        only = args[at + 1]
        del args[at:at + 2]
    if not args or not all(shutil.which(t) for t in ("lame", "mpg123", "ffmpeg", "sox", "mp3val")):
        sys.exit(__doc__)
    if not glob.glob(os.path.join(SOUNDTRACK, "*.ogg")):
        sys.exit(f"no recordings in {SOUNDTRACK}: BENCH=1 scripts/install-deps.sh")
    bin_dir = os.path.abspath(args[0])
    work = tempfile.mkdtemp(prefix="schedule bench ", dir=args[1] if len(args) > 1 else None)
    print(f"cores: {os.cpu_count()}, load average: {os.getloadavg()[0]:.2f}")
    try:
        for label, make, option, target in ROWS[first:]:
            if only and only not in label:
                continue
            wavs = make(work)
            measure(bin_dir, work, label, wavs, option, target)
            for wav in wavs:
                os.remove(wav)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
