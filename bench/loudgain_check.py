#!/usr/bin/env python3
"""Our ReplayGain 2.0 frames against loudgain's reading of the same MP3s.

Usage: loudgain_check.py BIN_DIR [WORK_DIR]
Converts every recording of /usr/share/hyperrogue/music (Debian's hyperrogue-music, CC game
music) with `batchmp3 --convert --replaygain album` into a scratch folder, groups the MP3s into
the albums batchmp3 makes of one folder (album artist and album; no album tag: those files
together), runs `loudgain -a` on each group, and prints one row per track and album: our gain
and peak, loudgain's, and whether each is within 0.1 dB and 8 %. Exits 1 when one is not.
"""
import collections
import glob
import json
import os
import shutil
import subprocess
import sys
import tempfile

MUSIC = "/usr/share/hyperrogue/music"


def tags_of(mp3):
    out = subprocess.run(["ffprobe", "-v", "error", "-show_entries", "format_tags", "-of", "json", mp3],
                         check=True, capture_output=True, text=True).stdout
    return {k.upper(): v for k, v in json.loads(out).get("format", {}).get("tags", {}).items()}


def loudgain(mp3s):
    out = subprocess.run(["loudgain", "-a", "-O", "-q"] + mp3s, check=True, capture_output=True,
                         text=True).stdout
    rows = {}
    for line in out.splitlines()[1:]:
        cols = line.split("\t")
        rows[cols[0]] = (float(cols[8].split()[0]), float(cols[3]))  # gain dB, true peak
    return rows


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    work = tempfile.mkdtemp(dir=sys.argv[2] if len(sys.argv) > 2 else None)
    env = dict(os.environ, XDG_DATA_HOME=os.path.join(work, "data"),
               XDG_CONFIG_HOME=os.path.join(work, "config"))
    failed = False
    try:
        album = os.path.join(work, "music")
        os.makedirs(album)
        for f in sorted(glob.glob(os.path.join(MUSIC, "*.ogg"))):
            shutil.copy(f, album)
        subprocess.run([os.path.join(sys.argv[1], "batchmp3"), "--convert", "-q", "--replaygain",
                        "album", album], check=True, env=env)
        groups = collections.defaultdict(list)
        for mp3 in sorted(glob.glob(os.path.join(album, "*.mp3"))):
            t = tags_of(mp3)
            groups[(t.get("ALBUM_ARTIST", ""), t.get("ALBUM", ""))].append(mp3)
        print("| track | our gain | loudgain | our peak | loudgain | ok |")
        print("|---|---|---|---|---|---|")
        for (artist, name), mp3s in groups.items():
            theirs = loudgain(mp3s)
            for mp3 in mp3s + ["Album"]:
                t = tags_of(mp3s[0] if mp3 == "Album" else mp3)
                kind = "ALBUM" if mp3 == "Album" else "TRACK"
                gain = float(t[f"REPLAYGAIN_{kind}_GAIN"].split()[0])
                peak = float(t[f"REPLAYGAIN_{kind}_PEAK"])
                their_gain, their_peak = theirs[mp3]
                ok = abs(gain - their_gain) <= 0.1 and abs(peak / their_peak - 1) <= 0.08
                failed |= not ok
                label = os.path.basename(mp3)
                if mp3 == "Album":
                    label = f"album {name or '(no album tag)'}" + (f" ({artist})" if artist else "")
                print(f"| {label} | {gain:+.2f} | {their_gain:+.2f} | {peak:.4f} | {their_peak:.4f} | "
                      f"{'yes' if ok else 'NO'} |")
    finally:
        shutil.rmtree(work)
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
