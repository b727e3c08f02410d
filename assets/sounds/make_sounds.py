#!/usr/bin/env python3
"""Writes the program's three warning sounds (16-bit mono WAVE, 22050 Hz) beside this script:
beep.wav (an alarm that loops well), wellcome.wav (a rising welcome chime) and pinpon.wav
(a two-note door chime). Run it again after changing a sound; the output is deterministic."""
import math
import os
import struct
import wave

RATE = 22050


def tone(freq, seconds, volume=0.5, decay=0.0, attack=0.005, partials=((1.0, 1.0),)):
    """One note: a sum of partials (frequency ratio, weight) under a short attack and an
    exponential decay (decay = 1/e time in seconds; 0 means a flat note with a soft end)."""
    n = int(RATE * seconds)
    out = []
    for i in range(n):
        t = i / RATE
        env = min(1.0, t / attack) if attack > 0 else 1.0
        if decay > 0:
            env *= math.exp(-t / decay)
        # 10 ms fade at the end so that no note clicks.
        env *= min(1.0, (n - i) / (0.010 * RATE))
        v = sum(w * math.sin(2 * math.pi * freq * r * t) for r, w in partials)
        out.append(volume * env * v / sum(w for _, w in partials))
    return out


def silence(seconds):
    return [0.0] * int(RATE * seconds)


def mix(base, add, offset_seconds):
    start = int(RATE * offset_seconds)
    end = start + len(add)
    if end > len(base):
        base.extend([0.0] * (end - len(base)))
    for i, v in enumerate(add):
        base[start + i] += v
    return base


def write(name, samples):
    peak = max(1e-9, max(abs(v) for v in samples))
    scale = min(1.0, 0.9 / peak)
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), name)
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(b"".join(struct.pack("<h", int(v * scale * 32767)) for v in samples))


BELL = ((1.0, 1.0), (2.0, 0.35), (3.0, 0.15), (4.2, 0.06))
SOFT = ((1.0, 1.0), (2.0, 0.25), (3.0, 0.08))

# Alarm: two high tones alternating, four pairs, ends in a short gap so the loop keeps time.
alarm = []
for _ in range(4):
    alarm += tone(988, 0.12, 0.6, partials=SOFT) + tone(784, 0.12, 0.6, partials=SOFT)
alarm += silence(0.08)
write("beep.wav", alarm)

# Welcome: C5 E5 G5 C6 rising, each ringing on under the next.
welcome = []
for k, f in enumerate((523.25, 659.25, 783.99, 1046.50)):
    mix(welcome, tone(f, 1.0, 0.35, decay=0.35, partials=BELL), 0.14 * k)
write("wellcome.wav", welcome)

# Door chime: a high note, then a lower one that rings out.
pinpon = []
mix(pinpon, tone(659.25, 0.9, 0.5, decay=0.30, partials=BELL), 0.0)
mix(pinpon, tone(523.25, 1.3, 0.5, decay=0.45, partials=BELL), 0.45)
write("pinpon.wav", pinpon)
