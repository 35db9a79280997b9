#!/usr/bin/env python3
"""Writes the sounds Quillmoor ships: the collision alert (data/alert.wav)
and the sounds of the example worlds (worlds/sounds/). Every sample and
MIDI event is computed here; run it again after changing it:

    python3 data/make_sounds.py
"""
import math
import os
import random
import struct
import wave

HERE = os.path.dirname(os.path.abspath(__file__))
SOUNDS = os.path.join(HERE, "..", "worlds", "sounds")


def write_wave(path, rate, samples, bits=16, channels=1):
    """samples: floats in -1..1, interleaved when stereo."""
    with wave.open(path, "wb") as w:
        w.setnchannels(channels)
        w.setsampwidth(bits // 8)
        w.setframerate(rate)
        if bits == 16:
            data = b"".join(struct.pack("<h", int(max(-1, min(1, s)) * 32767)) for s in samples)
        else:
            data = bytes(int(max(-1, min(1, s)) * 127) + 128 for s in samples)
        w.writeframes(data)


def alert():
    # Two short falling beeps: heard over anything, over quickly.
    rate = 22050
    out = []
    for freq in (1320, 990):
        n = int(rate * 0.09)
        for i in range(n):
            env = min(1.0, i / 80) * (1 - i / n) ** 1.5
            out.append(0.6 * env * math.sin(2 * math.pi * freq * i / rate))
        out.extend([0.0] * int(rate * 0.03))
    write_wave(os.path.join(HERE, "alert.wav"), rate, out)


def fountain(rng):
    # Water: noise through two resonant low-pass stages, with slow swells;
    # the start and end meet so that the loop has no click.
    rate, seconds = 11025, 2.0
    n = int(rate * seconds)
    a = b = 0.0
    out = []
    for i in range(n):
        x = rng.uniform(-1, 1)
        a += 0.35 * (x - a)
        b += 0.25 * (a - b)
        swell = 0.75 + 0.25 * math.sin(2 * math.pi * 3 * i / n)
        fade = min(1.0, i / 300, (n - i) / 300)
        out.append(1.6 * b * swell * fade + 0.08 * (x - a) * fade)
    write_wave(os.path.join(SOUNDS, "fountain.wav"), rate, out)


def birdsong(rng):
    # Chirps that sweep up and down, in twos and threes, 8-bit like the
    # sounds of old worlds (and so converted on the way to the device).
    rate, seconds = 11025, 3.0
    n = int(rate * seconds)
    out = [0.0] * n
    t = 0.1
    while t < seconds - 0.4:
        for _ in range(rng.choice((2, 3))):
            start, length = int(t * rate), int(rate * rng.uniform(0.06, 0.11))
            f0, f1 = rng.uniform(2600, 3400), rng.uniform(3600, 4600)
            phase = 0.0
            for i in range(length):
                k = i / length
                phase += 2 * math.pi * (f0 + (f1 - f0) * math.sin(math.pi * k)) / rate
                if start + i < n:
                    out[start + i] += 0.5 * math.sin(math.pi * k) * math.sin(phase)
            t += length / rate + 0.05
        t += rng.uniform(0.3, 0.7)
    write_wave(os.path.join(SOUNDS, "birdsong.wav"), rate, out, bits=8)


def steps(rng, name, period, count):
    # Footfalls: a thump and a scuff of noise, count of them per loop.
    rate = 11025
    n = int(rate * period * count)
    out = [0.0] * n
    for k in range(count):
        start = int(k * period * rate)
        lp = 0.0
        for i in range(int(rate * 0.08)):
            if start + i >= n:
                break
            lp += 0.2 * (rng.uniform(-1, 1) - lp)
            env = math.exp(-i / (rate * 0.015))
            out[start + i] += 0.9 * env * (lp * 2 + 0.5 * math.sin(2 * math.pi * 90 * i / rate))
    write_wave(os.path.join(SOUNDS, name), rate, out, bits=8)


def var_len(value):
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.insert(0, 0x80 | (value & 0x7F))
        value >>= 7
    return bytes(out)


def music_box():
    # A Standard MIDI File, format 0: a little waltz on the music box (GM
    # program 11), 96 ticks a beat.
    tune = [(76, 1), (74, 1), (72, 1), (74, 2), (76, 1), (79, 2), (77, 1), (76, 3),
            (72, 1), (74, 1), (76, 1), (77, 2), (74, 1), (72, 3), (67, 3)]
    events = bytearray()
    events += var_len(0) + bytes([0xFF, 0x51, 3]) + (500000).to_bytes(3, "big")  # 120 beats a minute
    events += var_len(0) + bytes([0xC0, 10])
    events += var_len(0) + bytes([0xC1, 32])  # a plucked bass
    delta = 0
    for i, (note, beats) in enumerate(tune):
        events += var_len(delta) + bytes([0x90, note, 96])
        if i % 3 == 0:
            events += var_len(0) + bytes([0x91, note - 24, 70])
        ticks = 96 * beats
        events += var_len(ticks - 8) + bytes([0x80, note, 0])
        if i % 3 == 0:
            events += var_len(0) + bytes([0x81, note - 24, 0])
        delta = 8
    events += var_len(96) + bytes([0xFF, 0x2F, 0])
    header = b"MThd" + struct.pack(">IHHH", 6, 0, 1, 96)
    track = b"MTrk" + struct.pack(">I", len(events)) + bytes(events)
    with open(os.path.join(SOUNDS, "musicbox.mid"), "wb") as f:
        f.write(header + track)


def main():
    rng = random.Random(1996)
    os.makedirs(SOUNDS, exist_ok=True)
    alert()
    fountain(rng)
    birdsong(rng)
    steps(rng, "steps_slow.wav", 0.6, 2)
    steps(rng, "steps_middle.wav", 0.4, 2)
    steps(rng, "steps_fast.wav", 0.25, 2)
    steps(rng, "steps_turn.wav", 0.3, 1)
    music_box()


if __name__ == "__main__":
    main()
