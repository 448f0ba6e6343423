#!/usr/bin/env python3
"""Speed and memory of the encoder component against the lame command.

Usage: mp3enc_bench.py BIN_DIR [WORK_DIR] [--skip-large] [--stop-only]
BIN_DIR holds Mp3Enc.ocx and mp3enc_driver (a Release build gives fair figures).

1. Ten 60-second stereo 44.1 kHz 16-bit WAVs of generated music are converted at 128 kbit/s,
   alternately through the component (created through the registry, one instance for all, as
   the converter uses it) and through "lame -b 128". Prints each file's times, the median
   ratio ours/lame of wall time (target <= 1.00) and each side's peak memory. Ours is timed
   from Open to ThreadEnded inside the driver, lame as the whole command.
2. How long Stop takes mid-file (target: within 100 ms): a 60 s 16-bit file mid-encode, and
   a 1 GB 32-bit float file while the encoder still reads it whole for its peak, with the
   file in the page cache (warm) and dropped from it before each run (cold).
3. Peak memory of a fresh process converting a 1 GiB WAV against a 10 MiB one
   (target: at most 1.2 times).
Peak memory is measured by /usr/bin/time for every process alike (a fork from Python
would count the interpreter's pages too).
"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

BYTES_PER_SECOND = 44100 * 2 * 2
TIME_FORMAT = "%e %U %S %M"  # wall s, user s, system s, peak kB


class Measured:
    """A process started under /usr/bin/time, so its peak memory is its own."""

    def __init__(self, args, work, **popen):
        self.report = tempfile.mktemp(dir=work)
        self.proc = subprocess.Popen(["/usr/bin/time", "-f", TIME_FORMAT, "-o", self.report]
                                     + args, **popen)

    def finish(self, stdin_text=None):
        out, _ = self.proc.communicate(stdin_text)
        if self.proc.returncode != 0:
            sys.exit(f"{self.proc.args[5]} failed with status {self.proc.returncode}")
        with open(self.report) as f:
            wall, user, system, peak = f.read().split()[-4:]
        os.remove(self.report)
        return float(wall), float(user) + float(system), int(peak), out


def lame(wav, mp3, work):
    return Measured(["lame", "-b", "128", "--quiet", wav, mp3], work).finish()


def lame_wall(wav, mp3):
    """Wall time of the lame command alone (/usr/bin/time reports only hundredths)."""
    start = time.perf_counter()
    subprocess.run(["lame", "-b", "128", "--quiet", wav, mp3], check=True)
    return time.perf_counter() - start


def generate(driver, path, seconds, seed):
    subprocess.run([driver, "gen", path, str(seconds), str(seed)], check=True,
                   stdout=subprocess.DEVNULL)
    os.sync()  # no write-back competing with the conversions


def speed(driver, work):
    wavs = []
    for i in range(10):
        wav = os.path.join(work, f"music {i}.wav")
        generate(driver, wav, 60, 1000 + i)
        wavs.append(wav)
    ours = Measured([driver, "encode", "128"], work, stdin=subprocess.PIPE,
                    stdout=subprocess.PIPE, text=True)

    def ours_once(wav):
        ours.proc.stdin.write(f"{wav}\t{wav[:-3]}ours.mp3\n")
        ours.proc.stdin.flush()
        line = ours.proc.stdout.readline().split()
        if len(line) != 4 or line[0] != "seconds":
            sys.exit("driver failed")
        return float(line[1]), float(line[3])

    wall_ratios = []
    for i, wav in enumerate(wavs):
        # Alternate which side goes first, so a drifting machine load hurts both alike.
        if i % 2 == 0:
            wall, cpu = ours_once(wav)
            l_wall = lame_wall(wav, wav[:-3] + "lame.mp3")
        else:
            l_wall = lame_wall(wav, wav[:-3] + "lame.mp3")
            wall, cpu = ours_once(wav)
        wall_ratios.append(wall / l_wall)
        with open(wav[:-3] + "ours.mp3", "rb") as a, open(wav[:-3] + "lame.mp3", "rb") as b:
            same = a.read() == b.read()
        print(f"  file {i}: ours {wall:.3f} s (cpu {cpu:.3f})  lame {l_wall:.3f} s"
              f"  ratio {wall / l_wall:.3f}  {'identical' if same else 'DIFFERENT'}")
    _, _, lame_peak, _ = lame(wavs[0], wavs[0][:-3] + "lame.mp3", work)
    _, _, ours_peak, _ = ours.finish()
    for wav in wavs:
        for f in (wav, wav[:-3] + "ours.mp3", wav[:-3] + "lame.mp3"):
            os.remove(f)
    print(f"median ratio ours/lame: {statistics.median(wall_ratios):.3f} (target <= 1.00)")
    print(f"peak memory: ours {ours_peak} kB (whole process, Qt included), lame {lame_peak} kB")


def stop_latency(driver, work):
    wav = os.path.join(work, "stop.wav")
    generate(driver, wav, 60, 3)
    times = []
    for after in (50, 150, 300, 450):
        out = subprocess.run([driver, "stop", wav, wav[:-3] + "mp3", str(after)], check=True,
                             capture_output=True, text=True).stdout
        times.append(float(out.split("stop_ms")[1].split()[0]))
        if os.path.exists(wav[:-3] + "mp3") or len(os.listdir(work)) != 1:
            sys.exit("Stop left a file behind")
    print(f"Stop took {', '.join(f'{t:.2f}' for t in times)} ms on 16-bit (target <= 100 ms)")
    # The same with two more files encoded ahead on the idle cores: all stop together.
    times = []
    ahead = [wav, wav[:-4] + " ahead 1.mp3", wav, wav[:-4] + " ahead 2.mp3"]
    for after in (50, 150, 300, 450):
        out = subprocess.run([driver, "stop", wav, wav[:-3] + "mp3", str(after)] + ahead,
                             check=True, capture_output=True, text=True).stdout
        times.append(float(out.split("stop_ms")[1].split()[0]))
        if len(os.listdir(work)) != 1:
            sys.exit("Stop left a file behind")
    print(f"Stop took {', '.join(f'{t:.2f}' for t in times)} ms with two files ahead "
          "(target <= 100 ms)")
    os.remove(wav)
    float_stop_latency(driver, work)


def float_stop_latency(driver, work):
    wav = os.path.join(work, "float.wav")
    subprocess.run([driver, "genfloat", wav, str((1 << 30) / (44100 * 2 * 4)), "5"], check=True,
                   stdout=subprocess.DEVNULL)
    for cache in ("warm", "cold"):
        times = []
        for after in (50, 150, 300, 450):
            if cache == "cold":
                subprocess.run([driver, "uncache", wav], check=True, stdout=subprocess.DEVNULL)
            else:
                with open(wav, "rb") as f:
                    while f.read(1 << 24):
                        pass
            out = subprocess.run([driver, "stop", wav, wav[:-3] + "mp3", str(after)], check=True,
                                 capture_output=True, text=True).stdout
            times.append(float(out.split("stop_ms")[1].split()[0]))
            if os.path.exists(wav[:-3] + "mp3") or len(os.listdir(work)) != 1:
                sys.exit("Stop left a file behind")
        print(f"Stop took {', '.join(f'{t:.2f}' for t in times)} ms on 1 GB float, {cache}"
              " (target <= 100 ms)")
    os.remove(wav)


def memory(driver, work):
    peaks = {}
    for label, size in (("10 MiB", 10 << 20), ("1 GiB", 1 << 30)):
        wav = os.path.join(work, f"size {label}.wav")
        generate(driver, wav, size / BYTES_PER_SECOND, 7)
        ours = Measured([driver, "encode", "128"], work, stdin=subprocess.PIPE,
                        stdout=subprocess.PIPE, text=True)
        wall, _, peaks[label], _ = ours.finish(f"{wav}\t{wav[:-3]}mp3\n")
        l_wall, _, l_peak, _ = lame(wav, wav[:-3] + "lame.mp3", work)
        print(f"  {label}: ours {peaks[label]} kB ({wall:.1f} s), lame {l_peak} kB ({l_wall:.1f} s)")
        for f in (wav, wav[:-3] + "mp3", wav[:-3] + "lame.mp3"):
            os.remove(f)
    print(f"peak memory 1 GiB / 10 MiB: {peaks['1 GiB'] / peaks['10 MiB']:.3f} (target <= 1.2)")


def main():
    args = [a for a in sys.argv[1:] if not a.startswith("--")]
    if not args or shutil.which("lame") is None or not os.path.exists("/usr/bin/time"):
        sys.exit(__doc__)
    driver = os.path.join(os.path.abspath(args[0]), "mp3enc_driver")
    work = tempfile.mkdtemp(prefix="mp3enc bench ", dir=args[1] if len(args) > 1 else None)
    try:
        if "--stop-only" in sys.argv:
            stop_latency(driver, work)
            return
        print("speed, ten 60 s stereo files at 128 kbit/s:")
        speed(driver, work)
        stop_latency(driver, work)
        if "--skip-large" not in sys.argv:
            print("peak memory against file length:")
            memory(driver, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
