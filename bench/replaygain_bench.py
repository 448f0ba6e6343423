#!/usr/bin/env python3
"""What --replaygain album costs against no ReplayGain, through the terminal's face.

Usage: replaygain_bench.py BIN_DIR [WORK_DIR]
BIN_DIR holds batchmp3 (a Release build gives fair figures). Needs the real recordings
(BENCH=1 scripts/install-deps.sh: Debian's hyperrogue-music) and sox.

1. An album: every recording of /usr/share/hyperrogue/music in one folder.
2. One 10-minute recording: those recordings joined end to end and cut at 10 minutes (FLAC).
Each is converted three times with each setting, alternating (none, album, none, ...), into a
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


def compare(name, batchmp3, source, work, env):
    times = {False: [], True: []}
    for _ in range(ROUNDS):
        for replaygain in (False, True):
            times[replaygain].append(run(batchmp3, source, os.path.join(work, "out"), replaygain, env))
    print(name)
    for label, index in (("wall", 0), ("cpu", 1)):
        none = [t[index] for t in times[False]]
        album = [t[index] for t in times[True]]
        ratio = statistics.median(album) / statistics.median(none)
        print(f"  {label}: none {statistics.median(none):.2f} s (rounds {', '.join(f'{x:.2f}' for x in none)}), "
              f"album {statistics.median(album):.2f} s (rounds {', '.join(f'{x:.2f}' for x in album)}), "
              f"ratio {ratio:.3f}")


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    batchmp3 = os.path.join(sys.argv[1], "batchmp3")
    recordings = sorted(glob.glob(os.path.join(MUSIC, "*.ogg")))
    if not recordings:
        sys.exit(f"no recordings in {MUSIC}: BENCH=1 scripts/install-deps.sh")
    work = tempfile.mkdtemp(dir=sys.argv[2] if len(sys.argv) > 2 else None)
    env = dict(os.environ, XDG_DATA_HOME=os.path.join(work, "data"),
               XDG_CONFIG_HOME=os.path.join(work, "config"))
    try:
        album = os.path.join(work, "album")
        os.makedirs(album)
        for f in recordings:
            shutil.copy(f, album)
        long_one = os.path.join(work, "ten minutes.flac")
        subprocess.run(["sox"] + recordings + [long_one, "trim", "0", "600"], check=True)
        compare(f"album of {len(recordings)} recordings", batchmp3, album, work, env)
        compare("one 10-minute recording", batchmp3, long_one, work, env)
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
