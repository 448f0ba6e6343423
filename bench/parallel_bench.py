#!/usr/bin/env python3
"""One file on every core: the encoder component in segments against the lame command.

Usage: parallel_bench.py BIN_DIR [WORK_DIR] [--skip-large] [--only long|batch|memory]
BIN_DIR holds Mp3Enc.ocx, ZTbutton.ocx, mp3enc_driver and batch_driver (a Release build).

For 1, 2 and all cores (the component's Threads 1, 2 and 0):
1. One 10-minute 44.1 kHz stereo WAV at 128 kbit/s through the component, against
   "lame -b 128" (target: at most 0.60 of its time with every core). Wall and CPU time of each;
   every output is checked: the lame command's size, clean for ffmpeg and mpg123, exactly the
   input's length when decoded.
2. Ten 90 s WAVs through the real main window, click to completion message, against
   "lame -b 128" on the same files one after another (target: at most 0.60).
3. Peak memory of a fresh process converting a 2 GiB WAV against a 10 MiB one, every core
   (target: at most 1.2 times).
Machine load from other processes moves the figures: the load average is printed.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

RATE = 44100
BYTES_PER_SECOND = RATE * 2 * 2
CORES = (1, 2, 0)


def run_timed(args, **kw):
    """Wall, CPU (user + system) seconds and peak kB of a command, by /usr/bin/time."""
    report = tempfile.mktemp()
    start = time.perf_counter()
    out = subprocess.run(["/usr/bin/time", "-f", "%U %S %M", "-o", report] + args, check=True,
                         capture_output=True, text=True, **kw).stdout
    wall = time.perf_counter() - start
    with open(report) as f:
        user, system, peak = f.read().split()[-3:]
    os.remove(report)
    return wall, float(user) + float(system), int(peak), out


def generate(bin_dir, path, seconds, seed):
    subprocess.run([os.path.join(bin_dir, "mp3enc_driver"), "gen", path, str(seconds),
                    str(seed)], check=True, stdout=subprocess.DEVNULL)
    os.sync()


def decoded_frames(mp3, work):
    wav = os.path.join(work, "decoded.wav")
    subprocess.run(["mpg123", "-q", "-w", wav, mp3], check=True)
    with open(wav, "rb") as f:
        data = f.read()
    os.remove(wav)
    at = data.find(b"data")
    return int.from_bytes(data[at + 4:at + 8], "little") // 4


def check(mp3, reference, wav_seconds_frames, work):
    problems = []
    if os.path.getsize(mp3) != os.path.getsize(reference):
        problems.append("size differs from lame's")
    errors = subprocess.run(["ffmpeg", "-v", "error", "-i", mp3, "-f", "null", "-"],
                            capture_output=True, text=True).stderr.strip()
    errors += subprocess.run(["mpg123", "-q", "-t", mp3], capture_output=True,
                             text=True).stderr.strip()
    if errors:
        problems.append("decoder errors: " + errors[:200])
    if decoded_frames(mp3, work) != wav_seconds_frames:
        problems.append("decoded length differs from the input's")
    return "valid" if not problems else "; ".join(problems)


def one_long_file(bin_dir, work):
    wav = os.path.join(work, "ten minutes.wav")
    generate(bin_dir, wav, 600, 42)
    frames = (os.path.getsize(wav) - 44) // 4
    lame_mp3 = wav[:-3] + "lame.mp3"
    lame_wall, lame_cpu, _, _ = run_timed(["lame", "-b", "128", "--quiet", wav, lame_mp3])
    print(f"10-minute file: lame -b 128 {lame_wall:.2f} s wall, {lame_cpu:.2f} s CPU")
    for cores in CORES:
        mp3 = wav[:-3] + f"ours {cores}.mp3"
        _, _, _, out = run_timed([os.path.join(bin_dir, "mp3enc_driver"), "encode", "128",
                                  str(cores)], input=f"{wav}\t{mp3}\n")
        line = next(l for l in out.splitlines() if l.startswith("seconds")).split()
        wall, cpu = float(line[1]), float(line[3])
        print(f"  Threads {cores}: {wall:.2f} s wall, {cpu:.2f} s CPU, ratio {wall / lame_wall:.3f}"
              f" (target <= 0.60 with every core), {check(mp3, lame_mp3, frames, work)}")
        os.remove(mp3)
    os.remove(wav)
    os.remove(lame_mp3)


def batch(bin_dir, work):
    wavs = []
    for i in range(10):
        wav = os.path.join(work, f"music {i}.wav")
        generate(bin_dir, wav, 90, 2000 + i)
        wavs.append(wav)
    start = time.perf_counter()
    for wav in wavs:
        subprocess.run(["lame", "-b", "128", "--quiet", wav, wav[:-3] + "lame.mp3"], check=True)
    lame_wall = time.perf_counter() - start
    print(f"ten 90 s files: lame -b 128 one after another {lame_wall:.2f} s")
    listing = os.path.join(work, "list.txt")
    with open(listing, "w", encoding="utf-8") as f:
        f.write("\n".join(wavs) + "\n")
    for cores in CORES:
        wall, cpu, _, out = run_timed([os.path.join(bin_dir, "batch_driver"), listing,
                                       str(cores)])
        figures = dict(line.split() for line in out.splitlines() if len(line.split()) == 2)
        seconds = float(figures["seconds"])
        sizes = all(os.path.getsize(w[:-3] + "mp3") == os.path.getsize(w[:-3] + "lame.mp3")
                    for w in wavs)
        print(f"  Threads {cores}: click to message {seconds:.2f} s, ratio {seconds / lame_wall:.3f}"
              f" (target <= 0.60 with every core); process {wall:.2f} s wall, {cpu:.2f} s CPU;"
              f" {'sizes equal lame' if sizes else 'SIZES DIFFER'}")
        for w in wavs:
            os.remove(w[:-3] + "mp3")
    for w in wavs:
        os.remove(w)
        os.remove(w[:-3] + "lame.mp3")


def memory(bin_dir, work):
    peaks = {}
    for label, size in (("10 MiB", 10 << 20), ("2 GiB", 2 << 30)):
        wav = os.path.join(work, f"size {label}.wav")
        generate(bin_dir, wav, size / BYTES_PER_SECOND, 7)
        wall, cpu, peaks[label], _ = run_timed(
            [os.path.join(bin_dir, "mp3enc_driver"), "encode", "128", "0"],
            input=f"{wav}\t{wav[:-3]}mp3\n")
        print(f"  {label}: peak {peaks[label]} kB, {wall:.1f} s wall, {cpu:.1f} s CPU")
        os.remove(wav)
        os.remove(wav[:-3] + "mp3")
    print(f"peak memory 2 GiB / 10 MiB: {peaks['2 GiB'] / peaks['10 MiB']:.3f} (target <= 1.2)")


def main():
    only = None
    if "--only" in sys.argv:
        only = sys.argv[sys.argv.index("--only") + 1]
        sys.argv.remove(only)
    args = [a for a in sys.argv[1:] if not a.startswith("--")]
    if not args or shutil.which("lame") is None:
        sys.exit(__doc__)
    bin_dir = os.path.abspath(args[0])
    work = tempfile.mkdtemp(prefix="parallel bench ", dir=args[1] if len(args) > 1 else None)
    print(f"cores: {os.cpu_count()}, load average: {os.getloadavg()[0]:.2f}")
    try:
        if only in (None, "long"):
            one_long_file(bin_dir, work)
        if only in (None, "batch"):
            batch(bin_dir, work)
        if only == "memory" or (only is None and "--skip-large" not in sys.argv):
            memory(bin_dir, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print(f"load average at the end: {os.getloadavg()[0]:.2f}")


if __name__ == "__main__":
    main()
