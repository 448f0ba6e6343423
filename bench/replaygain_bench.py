#!/usr/bin/env python3
"""What --replaygain album costs against no ReplayGain, through the terminal or the window.

Usage: replaygain_bench.py BIN_DIR [WORK_DIR] [--against OTHER_BIN_DIR] [--rounds N] [--window]
                           [--only album|long]
BIN_DIR holds batchmp3 and batch_driver (a Release build gives fair figures); --against adds, in
the same rounds, `album` by another build (an earlier commit), so a change's cost shows beside the
noise. --window converts through the real main window (batch_driver, offscreen, its saved
settings choosing the album gain) instead of `batchmp3 --convert`; its wall time is then the
driver's, from the start click to the completion message. Needs the real recordings
(BENCH=1 scripts/install-deps.sh: Debian's hyperrogue-music) and sox.

1. An album: every recording of /usr/share/hyperrogue/music in one folder.
2. One 10-minute recording: those recordings joined end to end and cut at 10 minutes (FLAC).
Each is converted three times (--rounds) with each setting, alternating (none, album, none, ...), into a
fresh output folder. Prints the medians of wall and CPU time of the whole process and their
ratio album/none (target <= 1.03), and the spread of each side's rounds, so the noise of a
shared machine shows.
"""
import glob
import os
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

MUSIC = "/usr/share/hyperrogue/music"
ROUNDS = 3


def inputs_of(source):
    if os.path.isdir(source):
        return sorted(os.path.join(source, f) for f in os.listdir(source) if not f.endswith(".mp3"))
    return [source]


def run(bin_dir, source, out, replaygain, env, window):
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    if window:
        # The window writes beside its inputs, as the window's default output folder does.
        for path in inputs_of(source):
            mp3 = os.path.splitext(path)[0] + ".mp3"
            if os.path.exists(mp3):
                os.remove(mp3)
        listing = os.path.join(out, "list.txt")
        with open(listing, "w") as f:
            f.write("\n".join(inputs_of(source)) + "\n")
        config = os.path.join(out, "config")
        os.makedirs(os.path.join(config, "batchmp3"))
        with open(os.path.join(config, "batchmp3", "settings.ini"), "w") as f:
            f.write(f"[replaygain]\ntags={2 if replaygain else 0}\n")
        args = [os.path.join(bin_dir, "batch_driver"), listing]
        env = dict(env, XDG_CONFIG_HOME=config)
    else:
        args = [os.path.join(bin_dir, "batchmp3"), "--convert", "-q", "-o", out] + \
            (["--replaygain", "album"] if replaygain else []) + [source]
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.monotonic()
    done = subprocess.run(args, check=True, env=env, capture_output=window, text=True)
    wall = time.monotonic() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    if window:
        wall = next(float(line.split()[1]) for line in done.stdout.splitlines()
                    if line.startswith("seconds "))
    return wall, cpu


def compare(name, sides, source, work, env, rounds, window):
    """sides: (label, bin_dir, replaygain), the first without ReplayGain."""
    times = {label: [] for label, _, _ in sides}
    for _ in range(rounds):
        for label, bin_dir, replaygain in sides:
            times[label].append(run(bin_dir, source, os.path.join(work, "out"), replaygain, env, window))
    print(name)
    base = sides[0][0]
    for kind, index in (("wall", 0), ("cpu", 1)):
        none = statistics.median(t[index] for t in times[base])
        parts = []
        for label, _, _ in sides:
            rounds = [t[index] for t in times[label]]
            median = statistics.median(rounds)
            ratio = "" if label == base else f", ratio {median / none:.3f}"
            parts.append(f"{label} {median:.2f} s (rounds {', '.join(f'{x:.2f}' for x in rounds)}){ratio}")
        print(f"  {kind}: " + "; ".join(parts))


def main():
    args = sys.argv[1:]
    rounds = ROUNDS
    if "--rounds" in args:
        at = args.index("--rounds")
        rounds = int(args[at + 1])
        del args[at:at + 2]
    window = "--window" in args
    if window:
        args.remove("--window")
    only = None
    if "--only" in args:
        at = args.index("--only")
        only = args[at + 1]
        del args[at:at + 2]
    against = None
    if "--against" in args:
        at = args.index("--against")
        against = args[at + 1]
        del args[at:at + 2]
    if not args:
        sys.exit(__doc__)
    sides = [("none", args[0], False), ("album", args[0], True)]
    if against:
        sides.append(("album (other build)", against, True))
    recordings = sorted(glob.glob(os.path.join(MUSIC, "*.ogg")))
    if not recordings:
        sys.exit(f"no recordings in {MUSIC}: BENCH=1 scripts/install-deps.sh")
    work = tempfile.mkdtemp(dir=args[1] if len(args) > 1 else None)
    env = dict(os.environ, XDG_DATA_HOME=os.path.join(work, "data"),
               XDG_CONFIG_HOME=os.path.join(work, "config"))
    try:
        album = os.path.join(work, "album")
        os.makedirs(album)
        for f in recordings:
            shutil.copy(f, album)
        long_one = os.path.join(work, "ten minutes.flac")
        subprocess.run(["sox"] + recordings + [long_one, "trim", "0", "600"], check=True)
        if only != "long":
            compare(f"album of {len(recordings)} recordings", sides, album, work, env, rounds, window)
        if only != "album":
            compare("one 10-minute recording", sides, long_one, work, env, rounds, window)
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
