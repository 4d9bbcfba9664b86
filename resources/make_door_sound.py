#!/usr/bin/env python3
"""Makes sound/door.wav: the pneumatic hiss and clunk of the bus doors.

Recipe (0.8 s, mono, 22 050 Hz, 8-bit unsigned PCM):
  1. air release   0.00 s  band-pass noise (about 1.2-5 kHz) plus a little
                           low "body" resonance, 4 ms attack, ~0.35 s decay
  2. clunk         0.55 s  damped sines at 82 Hz and 164 Hz with a short
                           click of bright noise on top
  3. tail                  everything fades to exact silence (128) at the end
Uses only the standard library; the noise comes from a fixed seed so the file
is the same on every run.

    python3 make_door_sound.py [output.wav]
"""
import math
import os
import random
import struct
import sys
import wave

RATE = 22050
SAMPLES = 17640          # 0.8 s
PEAK = 0.82              # headroom below full scale


class Biquad:
    """RBJ cookbook biquad (direct form I)."""

    def __init__(self, kind, freq, q):
        w = 2 * math.pi * freq / RATE
        alpha = math.sin(w) / (2 * q)
        c = math.cos(w)
        if kind == "bandpass":
            b = (alpha, 0.0, -alpha)
        elif kind == "lowpass":
            b = ((1 - c) / 2, 1 - c, (1 - c) / 2)
        elif kind == "highpass":
            b = ((1 + c) / 2, -(1 + c), (1 + c) / 2)
        else:
            raise ValueError(kind)
        a0 = 1 + alpha
        self.b = [x / a0 for x in b]
        self.a = [-2 * c / a0, (1 - alpha) / a0]
        self.x1 = self.x2 = self.y1 = self.y2 = 0.0

    def __call__(self, x):
        y = (self.b[0] * x + self.b[1] * self.x1 + self.b[2] * self.x2
             - self.a[0] * self.y1 - self.a[1] * self.y2)
        self.x2, self.x1 = self.x1, x
        self.y2, self.y1 = self.y1, y
        return y


def air_release(rng):
    """Sharp hiss of released air with a low resonance underneath."""
    hp = Biquad("highpass", 1200, 0.7)
    lp = Biquad("lowpass", 5000, 0.7)
    body = Biquad("bandpass", 180, 4.0)     # low resonance of the door engine
    out = []
    for n in range(SAMPLES):
        t = n / RATE
        attack = min(1.0, t / 0.004)
        decay = math.exp(-t / 0.11)          # about -27 dB at 0.35 s
        flutter = 1.0 + 0.12 * math.sin(2 * math.pi * 31 * t)
        w = rng.uniform(-1, 1)
        hiss = lp(hp(w))
        low = body(w) * 2.2
        out.append(attack * decay * flutter * (hiss + low))
    return out


def clunk(rng, start=0.55):
    """Soft low thud when the door reaches its stop, with a small click."""
    click_hp = Biquad("highpass", 2500, 0.7)
    out = []
    for n in range(SAMPLES):
        t = n / RATE - start
        if t < 0:
            click_hp(0.0)
            out.append(0.0)
            continue
        attack = min(1.0, t / 0.002)
        thud = (math.sin(2 * math.pi * 82 * t) * math.exp(-t / 0.045)
                + 0.35 * math.sin(2 * math.pi * 164 * t + 0.6) * math.exp(-t / 0.025))
        click = click_hp(rng.uniform(-1, 1)) * math.exp(-t / 0.003)
        out.append(attack * (0.75 * thud + 0.35 * click))
    return out


def main():
    path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "sound", "door.wav")
    rng = random.Random(20240617)
    a = air_release(rng)
    b = clunk(rng)
    mix = [x + y * 0.55 for x, y in zip(a, b)]

    # Scale the loudest sample to PEAK.
    top = max(abs(x) for x in mix) or 1.0
    mix = [x * PEAK / top for x in mix]

    # Fade the last 60 ms to nothing so the file ends on true silence.
    fade = int(0.06 * RATE)
    for i in range(fade):
        k = SAMPLES - fade + i
        mix[k] *= 0.5 * (1 + math.cos(math.pi * i / fade))
    mix[-1] = 0.0

    data = bytes(max(1, min(255, 128 + round(x * 127))) for x in mix)
    assert len(data) == SAMPLES

    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(1)      # 8-bit unsigned
        w.setframerate(RATE)
        w.writeframes(data)


if __name__ == "__main__":
    main()
