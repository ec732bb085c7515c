#!/usr/bin/python3
"""Writes a short wave file of sine tones: tonegen.py OUT.wav FREQ:MS [FREQ:MS ...]

16-bit mono PCM at 22050 Hz; each tone fades in and out over 5 ms so that it
does not click; a frequency of 0 is a pause.
"""
import math
import struct
import sys
import wave

RATE = 22050
FADE = int(RATE * 0.005)
VOLUME = 0.45


def samples(freq, ms):
    n = int(RATE * ms / 1000)
    for i in range(n):
        if freq <= 0:
            yield 0
            continue
        gain = min(1.0, i / FADE, (n - 1 - i) / FADE) if FADE else 1.0
        yield int(32767 * VOLUME * gain * math.sin(2 * math.pi * freq * i / RATE))


def main(argv):
    if len(argv) < 3:
        sys.stderr.write(__doc__)
        return 2
    frames = bytearray()
    for spec in argv[2:]:
        freq, ms = spec.split(":")
        for s in samples(float(freq), float(ms)):
            frames += struct.pack("<h", s)
    with wave.open(argv[1], "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(bytes(frames))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
