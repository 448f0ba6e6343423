#!/usr/bin/env python3
"""What --replaygain album costs against no ReplayGain, through the terminal's face.

Usage: replaygain_bench.py BIN_DIR [WORK_DIR] [--against OTHER_BIN_DIR] [--rounds N]
BIN_DIR holds batchmp3 (a Release build gives fair figures); --against adds, in the same rounds,
`album` by another build (an earlier commit), so a change's cost shows beside the noise. Needs the real recordings
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


def run(batchmp3, source, out, replaygain, env):
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    args = [batchmp3, "--convert", "-q", "-o", out] + (["--replaygain", "album"] if replaygain else []) + [source]
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.monotonic()
    subprocess.run(args, check=True, env=env)
    wall = time.monotonic() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return wall, cpu


def compare(name, sides, source, work, env, rounds):
    """sides: (label, batchmp3, replaygain), the first without ReplayGain."""
    times = {label: [] for label, _, _ in sides}
    for _ in range(rounds):
        for label, batchmp3, replaygain in sides:
            times[label].append(run(batchmp3, source, os.path.join(work, "out"), replaygain, env))
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
    against = None
    if "--against" in args:
        at = args.index("--against")
        against = os.path.join(args[at + 1], "batchmp3")
        del args[at:at + 2]
    if not args:
        sys.exit(__doc__)
    batchmp3 = os.path.join(args[0], "batchmp3")
    sides = [("none", batchmp3, False), ("album", batchmp3, True)]
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
        compare(f"album of {len(recordings)} recordings", sides, album, work, env, rounds)
        compare("one 10-minute recording", sides, long_one, work, env, rounds)
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
