#!/usr/bin/env python3
"""Every core through the real main window: the encoder component against the lame command.

Usage: parallel_bench.py BIN_DIR [WORK_DIR] [--skip-large] [--rounds N]
                         [--only long|dense|real|pluck|float|lowrate|batch|short|ninety|mixed|
                                 memory|modes|faces]
BIN_DIR holds Mp3Enc.ocx, ZTbutton.ocx, mp3enc_driver, batch_driver and batchmp3 (a Release
build). Needs lame, mpg123, ffmpeg, sox and mp3val (scripts/install-deps.sh installs them), and
for the real recordings hyperrogue-music (BENCH=1 scripts/install-deps.sh installs it too).

Each case runs through the window (batch_driver: click to completion message) with 1, 2 and all
cores (the component's Threads 1, 2 and 0), against "lame -b N" on the same files one after
another. The machine's speed drifts: lame and ours are timed in alternation, N rounds (3), and
the medians reported. Every output is checked: the lame command's size and radio gain, clean
for ffmpeg and mpg123, exactly the input's length when decoded.
1. long: one 10-minute WAV of generated music at 128 kbit/s (target: at most 0.60).
2. dense: 10 minutes of pink noise, "sox -n ... synth 600 pinknoise vol 0.25" (target: at most
   0.60, and CPU time at most 1.15 times the one-piece encode's).
3. real: the CC-licensed soundtrack Debian ships in hyperrogue-music, decoded by ffmpeg, as one
   batch (target: at most 0.60).
4. pluck: ten 90 s WAVs of plucked notes, "sox ... synth 90 pluck C4 pluck A4 tremolo 3 40"
   (target: at most 0.60).
5. float: a 10-minute 32-bit float WAV at 128 kbit/s; lowrate: a 10-minute 44.1 kHz WAV at 64
   and at 96 kbit/s, where the encoder lowers the rate (targets: at most 0.65).
6. batch: ten 90 s WAVs of generated music (target: at most 0.60).
7. Batches of real music cut from the soundtrack (files encoded ahead of their turn on idle
   cores): short, 40 files of 10 s; ninety, ten files of 90 s; mixed, 2 files of 5 minutes,
   20 of 10 s and 5 of 45 s (targets: at most 0.55, the arrow never stalled over 350 ms).
8. memory: peak memory of a fresh process converting a 2 GiB WAV against a 10 MiB one, every
   core (target: at most 1.2 times).
9. modes: the rate modes through "batchmp3 --convert" (every core) against the lame command with
   the same option, on ten minutes cut from the soundtrack: -V 2 and -b 320 (targets: at most
   0.58), -V 0 and --abr 192 (at most 0.60); and 40 files of 10 s at -V 2 (at most 0.55).
   A variable or average rate's outputs are checked for a size within 1 % of lame's instead of
   the same size, and by mp3val too. Every run waits until no other program keeps a core busy.
10. faces: the same files through the window on an X server (batch_driver on xcb: the display
   in DISPLAY, else a private Xvfb) and through "batchmp3 --convert", every core, against lame
   in the same rounds: 40 files of 10 s (target: at most 0.54, the window within 0.03 of the
   terminal), the mixed batch (0.55), six recordings of 2 to 9 minutes cut from the soundtrack
   (0.55) and ten minutes at 96 kbit/s, where the rate is lowered (0.60).
"""
import glob
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import wave

RATE = 44100
BYTES_PER_SECOND = RATE * 2 * 2
CORES = (1, 2, 0)
ROUNDS = 3
SOUNDTRACK = "/usr/share/hyperrogue/music"


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


def generate(bin_dir, path, seconds, seed, kind="gen"):
    subprocess.run([os.path.join(bin_dir, "mp3enc_driver"), kind, path, str(seconds), str(seed)],
                   check=True, stdout=subprocess.DEVNULL)


def sox(path, *effects):
    subprocess.run(["sox", "-n", "-r", str(RATE), "-c", "2", "-b", "16", path, "synth"] +
                   list(effects), check=True)


def frames_of(wav):
    out = subprocess.run(["soxi", "-s", wav], capture_output=True, text=True, check=True).stdout
    return int(out)


def decoded(mp3, work):
    """Frames and sample rate of the gapless decode."""
    wav = os.path.join(work, "decoded.wav")
    subprocess.run(["mpg123", "-q", "-w", wav, mp3], check=True)
    frames = frames_of(wav)
    rate = int(subprocess.run(["soxi", "-r", wav], capture_output=True, text=True,
                              check=True).stdout)
    os.remove(wav)
    return frames, rate


def radio_gain(mp3):
    with open(mp3, "rb") as f:
        head = f.read(4096)
    at = max(head.find(b"Info"), head.find(b"Xing"))
    return head[at + 135:at + 137] if at >= 0 else b""


def check(mp3, reference, frames, work):
    problems = []
    if os.path.getsize(mp3) != os.path.getsize(reference):
        problems.append("size differs from lame's")
    if radio_gain(mp3) != radio_gain(reference):
        problems.append("radio gain differs from lame's")
    errors = subprocess.run(["ffmpeg", "-v", "error", "-i", mp3, "-f", "null", "-"],
                            capture_output=True, text=True).stderr.strip()
    errors += subprocess.run(["mpg123", "-q", "-t", mp3], capture_output=True,
                             text=True).stderr.strip()
    if errors:
        problems.append("decoder errors: " + errors[:200])
    ours, theirs = decoded(mp3, work), decoded(reference, work)
    if ours != theirs:
        problems.append("decoded length or rate differs from lame's")
    # Where the rate is kept, exactly the input's length; lowered, the length lame gives.
    if ours[1] == RATE and ours[0] != frames:
        problems.append("decoded length differs from the input's")
    return problems


def remove_outputs(wavs, endings=("mp3", "lame.mp3")):
    for wav in wavs:
        for ending in endings:
            if os.path.exists(wav[:-3] + ending):
                os.remove(wav[:-3] + ending)


def lame_batch(wavs, kbps):
    start = time.perf_counter()
    for wav in wavs:
        subprocess.run(["lame", "-b", str(kbps), "--quiet", wav, wav[:-3] + "lame.mp3"],
                       check=True)
    return time.perf_counter() - start


def window_batch(bin_dir, work, wavs, cores, kbps, env=None):
    """Click to completion message, and the process's CPU time, through the real window
    (offscreen unless `env` names a display)."""
    listing = os.path.join(work, "list.txt")
    with open(listing, "w", encoding="utf-8") as f:
        f.write("\n".join(wavs) + "\n")
    _, cpu, _, out = run_timed([os.path.join(bin_dir, "batch_driver"), listing, str(cores),
                                str(kbps)], env=env)
    figures = dict(line.split() for line in out.splitlines() if len(line.split()) == 2)
    return float(figures["seconds"]), cpu, int(figures["max_tick_gap_ms"])


def measure(bin_dir, work, label, wavs, kbps, target, cpu_target=None):
    """Alternates lame and ours for every core count; prints medians and checks the outputs."""
    lame_walls, ours = [], {cores: [] for cores in CORES}
    for _ in range(ROUNDS):
        lame_walls.append(lame_batch(wavs, kbps))
        for cores in CORES:
            ours[cores].append(window_batch(bin_dir, work, wavs, cores, kbps))
    lame_wall = statistics.median(lame_walls)
    print(f"{label}: lame -b {kbps} one after another {lame_wall:.2f} s (median of {ROUNDS})")
    one_piece_cpu = statistics.median(run[1] for run in ours[1])
    for cores in CORES:
        wall = statistics.median(run[0] for run in ours[cores])
        cpu = statistics.median(run[1] for run in ours[cores])
        gap = max(run[2] for run in ours[cores])
        line = (f"  Threads {cores}: {wall:.2f} s, ratio {wall / lame_wall:.3f} (target <= "
                f"{target:.2f} with every core); CPU {cpu:.2f} s, {cpu / one_piece_cpu:.3f} of "
                f"one piece")
        if cpu_target:
            line += f" (target <= {cpu_target:.2f})"
        print(line + f"; arrow gap {gap} ms")
    problems = []
    for wav in wavs:
        problems += check(wav[:-3] + "mp3", wav[:-3] + "lame.mp3", frames_of(wav), work)
    print("  outputs: " + ("valid" if not problems else "; ".join(sorted(set(problems)))))
    remove_outputs(wavs)


def long_file(bin_dir, work):
    wav = os.path.join(work, "ten minutes.wav")
    generate(bin_dir, wav, 600, 42)
    measure(bin_dir, work, "10-minute generated music", [wav], 128, 0.60)
    os.remove(wav)


def dense(bin_dir, work):
    wav = os.path.join(work, "dense.wav")
    sox(wav, "600", "pinknoise", "vol", "0.25")
    measure(bin_dir, work, "10 minutes of pink noise", [wav], 128, 0.60, cpu_target=1.15)
    os.remove(wav)


def real(bin_dir, work):
    tracks = sorted(glob.glob(os.path.join(SOUNDTRACK, "*.ogg")))
    if not tracks:
        print(f"real recordings: none in {SOUNDTRACK} (BENCH=1 scripts/install-deps.sh)")
        return
    wavs = []
    for track in tracks:
        wav = os.path.join(work, os.path.basename(track)[:-3] + "wav")
        if subprocess.run(["ffmpeg", "-v", "error", "-i", track, "-c:a", "pcm_s16le", wav],
                          capture_output=True).returncode == 0:
            wavs.append(wav)
    minutes = sum(frames_of(w) for w in wavs) / RATE / 60
    measure(bin_dir, work, f"{len(wavs)} soundtrack recordings ({minutes:.0f} min)", wavs, 128,
            0.60)
    for wav in wavs:
        os.remove(wav)


def pluck(bin_dir, work):
    wavs = []
    for i, (a, b) in enumerate(zip("CDEFGABCDE", "ABCDEFGABC")):
        wav = os.path.join(work, f"pluck {i}.wav")
        sox(wav, "90", "pluck", f"{a}4", "pluck", f"{b}4", "tremolo", "3", "40", "vol", "0.7")
        wavs.append(wav)
    measure(bin_dir, work, "ten 90 s plucked notes", wavs, 128, 0.60)
    for wav in wavs:
        os.remove(wav)


def float_and_low_rates(bin_dir, work, which):
    wav = os.path.join(work, "ten minutes.wav")
    if which == "float":
        generate(bin_dir, wav, 600, 43, "genfloat")
        measure(bin_dir, work, "10-minute 32-bit float WAV", [wav], 128, 0.65)
    else:
        generate(bin_dir, wav, 600, 44)
        for kbps in (64, 96):
            measure(bin_dir, work, f"10-minute WAV, rate lowered", [wav], kbps, 0.65)
    os.remove(wav)


def batch(bin_dir, work):
    wavs = []
    for i in range(10):
        wav = os.path.join(work, f"music {i}.wav")
        generate(bin_dir, wav, 90, 2000 + i)
        wavs.append(wav)
    measure(bin_dir, work, "ten 90 s generated files", wavs, 128, 0.60)
    for w in wavs:
        os.remove(w)


def soundtrack_clips(work, prefix, lengths):
    """WAVs of the given lengths in seconds, cut one after another from the soundtrack decoded
    as one recording (from its start again when it runs out, and repeated for a clip longer
    than the whole)."""
    tracks = sorted(glob.glob(os.path.join(SOUNDTRACK, "*.ogg")))
    whole = os.path.join(work, "soundtrack.wav")
    if not os.path.exists(whole):
        parts = []
        for track in tracks:
            part = os.path.join(work, "part.wav")
            if subprocess.run(["ffmpeg", "-v", "error", "-i", track, "-ar", str(RATE), "-ac", "2",
                               "-c:a", "pcm_s16le", part], capture_output=True).returncode == 0:
                with wave.open(part) as w:
                    parts.append(w.readframes(w.getnframes()))
            if os.path.exists(part):
                os.remove(part)
        if not parts:
            return []
        with wave.open(whole, "wb") as w:
            w.setnchannels(2)
            w.setsampwidth(2)
            w.setframerate(RATE)
            w.writeframes(b"".join(parts))
    with wave.open(whole) as w:
        audio = w.readframes(w.getnframes())
    longest = int(max(lengths) * RATE) * 4
    audio *= longest // len(audio) + 1
    wavs, at = [], 0
    for i, seconds in enumerate(lengths):
        size = int(seconds * RATE) * 4
        if at + size > len(audio):
            at = 0
        wav = os.path.join(work, f"{prefix} {i:02}.wav")
        with wave.open(wav, "wb") as w:
            w.setnchannels(2)
            w.setsampwidth(2)
            w.setframerate(RATE)
            w.writeframes(audio[at:at + size])
        at += size
        wavs.append(wav)
    return wavs


def music_batch(bin_dir, work, which):
    lengths, label = {
        "short": ([10] * 40, "40 files of 10 s"),
        "ninety": ([90] * 10, "ten files of 90 s"),
        "mixed": ([300] * 2 + [10] * 20 + [45] * 5, "2 x 5 min, 20 x 10 s and 5 x 45 s"),
    }[which]
    wavs = soundtrack_clips(work, which, lengths)
    if not wavs:
        print(f"real recordings: none in {SOUNDTRACK} (BENCH=1 scripts/install-deps.sh)")
        return
    measure(bin_dir, work, f"soundtrack batch, {label}", wavs, 128, 0.55)
    print("  (arrow gap target <= 350 ms)")
    for wav in wavs:
        os.remove(wav)


def busy_cores(seconds=2.0):
    """Cores' worth of CPU time the whole machine used over the next `seconds`."""
    def times():
        with open("/proc/stat") as f:
            fields = [int(v) for v in f.readline().split()[1:]]
        return sum(fields), fields[3] + fields[4]  # all, idle and waiting for I/O
    total0, idle0 = times()
    time.sleep(seconds)
    total1, idle1 = times()
    return (1 - (idle1 - idle0) / max(1, total1 - total0)) * (os.cpu_count() or 1)


def wait_for_quiet(limit=0.2):
    """Waits until nothing else keeps a core busy, so every timing sees the same machine."""
    waited = 0.0
    while (busy := busy_cores()) > limit:
        waited += 2
        if waited > 1800:
            print(f"  (machine still busy, {busy:.2f} cores in use: measuring anyway)")
            return
    if waited:
        print(f"  (waited {waited:.0f} s for a quiet machine)")


def convert_batch(bin_dir, work, wavs, option):
    """Start to exit of "batchmp3 --convert", every MP3 beside its input."""
    env = dict(os.environ, XDG_DATA_HOME=os.path.join(work, "data"))
    for key in ("DISPLAY", "WAYLAND_DISPLAY"):
        env.pop(key, None)
    start = time.perf_counter()
    subprocess.run([os.path.join(bin_dir, "batchmp3"), "--convert", "-q"] + option + wavs,
                   check=True, env=env)
    return time.perf_counter() - start


def lame_option_batch(wavs, option):
    start = time.perf_counter()
    for wav in wavs:
        subprocess.run(["lame", "--quiet"] + option + [wav, wav[:-3] + "lame.mp3"], check=True)
    return time.perf_counter() - start


def check_mode(mp3, reference, frames, work, constant):
    """As check(), but a variable or average rate needs only come within 1 % of lame's size."""
    problems = [p for p in check(mp3, reference, frames, work)
                if constant or p != "size differs from lame's"]
    if abs(os.path.getsize(mp3) - os.path.getsize(reference)) > 0.01 * os.path.getsize(reference):
        problems.append("size more than 1 % from lame's")
    report = subprocess.run(["mp3val", mp3], capture_output=True, text=True).stdout
    problems += ["mp3val: " + line for line in report.splitlines()
                 if line.startswith(("WARNING", "ERROR")) and "No supported tags" not in line]
    return problems


def measure_mode(bin_dir, work, label, wavs, option, target):
    """Alternates lame and ours, ROUNDS times each; prints the medians and checks the outputs."""
    lame_walls, our_walls = [], []
    for _ in range(ROUNDS):
        wait_for_quiet()
        lame_walls.append(lame_option_batch(wavs, option))
        remove_outputs(wavs, ["mp3"])
        wait_for_quiet()
        our_walls.append(convert_batch(bin_dir, work, wavs, option))
    lame_wall, ours = statistics.median(lame_walls), statistics.median(our_walls)
    print(f"{label}, {' '.join(option)}: lame {lame_wall:.2f} s, ours {ours:.2f} s, ratio "
          f"{ours / lame_wall:.3f} (target <= {target:.2f}); medians of {ROUNDS}, "
          f"lame {' '.join(f'{w:.2f}' for w in lame_walls)}, "
          f"ours {' '.join(f'{w:.2f}' for w in our_walls)}")
    problems = []
    for wav in wavs:
        problems += check_mode(wav[:-3] + "mp3", wav[:-3] + "lame.mp3", frames_of(wav), work,
                               option[0] == "-b")
    print("  outputs: " + ("valid" if not problems else "; ".join(sorted(set(problems)))))
    remove_outputs(wavs)


def modes(bin_dir, work):
    recording = soundtrack_clips(work, "recording", [600])
    clips = soundtrack_clips(work, "clip", [10] * 40)
    if not recording or not clips:
        print(f"real recordings: none in {SOUNDTRACK} (BENCH=1 scripts/install-deps.sh)")
        return
    for option, target in ((["-V", "2"], 0.58), (["-V", "0"], 0.60), (["--abr", "192"], 0.60),
                           (["-b", "320"], 0.58)):
        measure_mode(bin_dir, work, "ten minutes of the soundtrack", recording, option, target)
    measure_mode(bin_dir, work, "40 soundtrack files of 10 s", clips, ["-V", "2"], 0.55)
    for wav in recording + clips:
        os.remove(wav)


def x_display():
    """A display for the window: DISPLAY's, or a private Xvfb (returned to be stopped)."""
    if os.environ.get("DISPLAY"):
        return os.environ["DISPLAY"], None
    for number in range(90, 100):
        if not os.path.exists(f"/tmp/.X11-unix/X{number}"):
            server = subprocess.Popen(["Xvfb", f":{number}", "-screen", "0", "1280x1024x24",
                                       "-nolisten", "tcp"], stderr=subprocess.DEVNULL)
            for _ in range(50):
                if os.path.exists(f"/tmp/.X11-unix/X{number}"):
                    return f":{number}", server
                time.sleep(0.1)
            server.kill()
    sys.exit("no X server: install xvfb")


def faces(bin_dir, work):
    if not glob.glob(os.path.join(SOUNDTRACK, "*.ogg")):
        print(f"real recordings: none in {SOUNDTRACK} (BENCH=1 scripts/install-deps.sh)")
        return
    recordings = soundtrack_clips(work, "recording", [120, 180, 240, 300, 420, 540])
    batches = [
        ("40 files of 10 s", soundtrack_clips(work, "short", [10] * 40), 128, 0.54),
        ("2 x 5 min, 20 x 10 s, 5 x 45 s",
         soundtrack_clips(work, "mixed", [300] * 2 + [10] * 20 + [45] * 5), 128, 0.55),
        ("six recordings of " + "/".join(f"{frames_of(w) / RATE / 60:.1f}" for w in recordings)
         + " min", recordings, 128, 0.55),
        ("ten minutes", soundtrack_clips(work, "ten", [600]), 96, 0.60),
    ]
    display, server = x_display()
    env = dict(os.environ, DISPLAY=display, QT_QPA_PLATFORM="xcb")
    try:
        for label, wavs, kbps, target in batches:
            walls = {"lame": [], "window": [], "terminal": []}
            problems = []

            def checked():
                for wav in wavs:
                    problems.extend(check(wav[:-3] + "mp3", wav[:-3] + "lame.mp3",
                                          frames_of(wav), work))
                remove_outputs(wavs, ["mp3"])

            for _ in range(ROUNDS):
                wait_for_quiet()
                walls["lame"].append(lame_batch(wavs, kbps))
                wait_for_quiet()
                walls["window"].append(window_batch(bin_dir, work, wavs, 0, kbps, env)[0])
                checked()
                wait_for_quiet()
                walls["terminal"].append(convert_batch(bin_dir, work, wavs, ["-b", str(kbps)]))
                checked()
            lame = statistics.median(walls["lame"])
            window = statistics.median(walls["window"]) / lame
            terminal = statistics.median(walls["terminal"]) / lame
            print(f"{label} at {kbps} kbit/s: lame {lame:.2f} s; window {window:.3f}, terminal "
                  f"{terminal:.3f} of lame's time (target <= {target:.2f}); medians of "
                  f"{ROUNDS}: " + "; ".join(f"{k} " + " ".join(f"{w:.2f}" for w in v)
                                            for k, v in walls.items()))
            print("  outputs: " + ("valid" if not problems else "; ".join(sorted(set(problems)))))
            remove_outputs(wavs)
            for wav in wavs:
                os.remove(wav)
    finally:
        if server:
            server.kill()


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
    global ROUNDS
    only = None
    if "--only" in sys.argv:
        only = sys.argv[sys.argv.index("--only") + 1]
        sys.argv.remove(only)
    if "--rounds" in sys.argv:
        ROUNDS = int(sys.argv[sys.argv.index("--rounds") + 1])
        sys.argv.remove(str(ROUNDS))
    args = [a for a in sys.argv[1:] if not a.startswith("--")]
    if not args or not all(shutil.which(t) for t in ("lame", "mpg123", "ffmpeg", "sox", "mp3val")):
        sys.exit(__doc__)
    bin_dir = os.path.abspath(args[0])
    work = tempfile.mkdtemp(prefix="parallel bench ", dir=args[1] if len(args) > 1 else None)
    print(f"cores: {os.cpu_count()}, load average: {os.getloadavg()[0]:.2f}")
    cases = {
        "long": lambda: long_file(bin_dir, work),
        "dense": lambda: dense(bin_dir, work),
        "real": lambda: real(bin_dir, work),
        "pluck": lambda: pluck(bin_dir, work),
        "float": lambda: float_and_low_rates(bin_dir, work, "float"),
        "lowrate": lambda: float_and_low_rates(bin_dir, work, "lowrate"),
        "batch": lambda: batch(bin_dir, work),
        "short": lambda: music_batch(bin_dir, work, "short"),
        "ninety": lambda: music_batch(bin_dir, work, "ninety"),
        "mixed": lambda: music_batch(bin_dir, work, "mixed"),
        "modes": lambda: modes(bin_dir, work),
        "faces": lambda: faces(bin_dir, work),
    }
    try:
        for name, case in cases.items():
            if only in (None, name):
                case()
        if only == "memory" or (only is None and "--skip-large" not in sys.argv):
            memory(bin_dir, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print(f"load average at the end: {os.getloadavg()[0]:.2f}")


if __name__ == "__main__":
    main()
