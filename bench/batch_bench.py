#!/usr/bin/env python3
"""The whole batch through the real main window against the lame command.

Usage: batch_bench.py BIN_DIR [WORK_DIR] [--rounds N]
BIN_DIR holds batch_driver, mp3enc_driver and both component libraries (a Release build gives
fair figures).

Ten 60-second stereo 44.1 kHz 16-bit WAVs of generated music are converted at 128 kbit/s, in
each round once as one batch through the main window (offscreen, the real encoder component)
and once by "lame -b 128" run on one file after another; the order alternates between rounds.
Prints each round's ratio ours/lame, their median (target <= 1.00) and the longest gap between
two ticks of the window's 300 ms arrow timer during the batches (target <= 350 ms: the
user-interface thread never stalls).
"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time


def lame_batch(wavs):
    start = time.perf_counter()
    for wav in wavs:
        subprocess.run(["lame", "-b", "128", "--quiet", wav, wav[:-3] + "lame.mp3"], check=True)
    return time.perf_counter() - start


def our_batch(driver, wavs, work):
    listing = os.path.join(work, "list.txt")
    with open(listing, "w", encoding="utf-8") as f:
        f.write("\n".join(wavs) + "\n")
    out = subprocess.run([driver, listing], check=True, capture_output=True, text=True).stdout
    figures = dict(line.split() for line in out.splitlines() if len(line.split()) == 2)
    return float(figures["seconds"]), int(figures["max_tick_gap_ms"]), int(figures["ticks"])


def main():
    args = [a for a in sys.argv[1:] if not a.startswith("--")]
    rounds = 3
    if "--rounds" in sys.argv:
        rounds = int(sys.argv[sys.argv.index("--rounds") + 1])
        args.remove(str(rounds))
    if not args or shutil.which("lame") is None:
        sys.exit(__doc__)
    bin_dir = os.path.abspath(args[0])
    driver = os.path.join(bin_dir, "batch_driver")
    work = tempfile.mkdtemp(prefix="batch bench ", dir=args[1] if len(args) > 1 else None)
    try:
        wavs = []
        for i in range(10):
            wav = os.path.join(work, f"music {i}.wav")
            subprocess.run([os.path.join(bin_dir, "mp3enc_driver"), "gen", wav, "60",
                            str(1000 + i)], check=True, stdout=subprocess.DEVNULL)
            wavs.append(wav)
        ratios, gaps = [], []
        for r in range(rounds):
            if r % 2 == 0:
                ours, gap, ticks = our_batch(driver, wavs, work)
                lame = lame_batch(wavs)
            else:
                lame = lame_batch(wavs)
                ours, gap, ticks = our_batch(driver, wavs, work)
            same = all(open(w[:-3] + "mp3", "rb").read() == open(w[:-3] + "lame.mp3", "rb").read()
                       for w in wavs)
            ratios.append(ours / lame)
            gaps.append(gap)
            print(f"  round {r}: batch {ours:.3f} s ({ticks} ticks, longest gap {gap} ms)"
                  f"  lame {lame:.3f} s  ratio {ours / lame:.3f}"
                  f"  {'identical output' if same else 'DIFFERENT output'}")
            for w in wavs:
                for f in (w[:-3] + "mp3", w[:-3] + "lame.mp3"):
                    if os.path.exists(f):
                        os.remove(f)
        print(f"median ratio ours/lame: {statistics.median(ratios):.3f} (target <= 1.00)")
        print(f"longest gap between two Timer1 ticks: {max(gaps)} ms (target <= 350 ms)")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
