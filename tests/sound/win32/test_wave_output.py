#!/usr/bin/env python3
"""The Windows programs' sound, heard from the Linux side.

Starts a PulseAudio server of the test's own (a private runtime folder, a
null sink, anonymous access on a socket in that folder), points Wine at it
(winepulse.drv connects through libpulse, which takes PULSE_SERVER from the
process's environment), and records the null sink's monitor with parec
while
  - win32_sound_tests.exe plays its tone through CSoundPlayer and the waveOut
    output: 1.5 s of 750 Hz, left at half and right at a quarter of full
    scale;
  - gamesim.exe --sound beeps: 60 ms of 1000 Hz once a second.
Then reads the recording: the tone's length, pitch and channel levels, the
beeps' pitch, length and spacing.
"""

import argparse
import array
import math
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

RATE = 48000
SINK = "trellon_test"


def skip(why):
    print("SKIPPED: " + why)
    sys.exit(0)


class SoundServer:
    """pulseaudio -n with only what the test loads, ended by its pid."""

    def __init__(self, folder):
        self.folder = folder
        self.socket = os.path.join(folder, "native")
        self.process = None

    def env(self):
        env = dict(os.environ)
        env.update({
            "PULSE_SERVER": "unix:" + self.socket,
            "XDG_RUNTIME_DIR": os.path.join(self.folder, "run"),
            "HOME": self.folder,
            "PULSE_CLIENTCONFIG": os.path.join(self.folder, "client.conf"),
        })
        return env

    def start(self):
        os.makedirs(os.path.join(self.folder, "run"), mode=0o700)
        conf = os.path.join(self.folder, "server.pa")
        with open(conf, "w") as f:
            f.write("load-module module-native-protocol-unix auth-anonymous=1 socket=%s\n"
                    % self.socket)
            f.write("load-module module-null-sink sink_name=%s rate=%d channels=2\n"
                    % (SINK, RATE))
            f.write("set-default-sink %s\n" % SINK)
        with open(os.path.join(self.folder, "client.conf"), "w") as f:
            f.write("autospawn = no\n")
        log = open(os.path.join(self.folder, "pulseaudio.log"), "w")
        self.process = subprocess.Popen(
            ["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
             "-F", conf], env=self.env(), stdout=log, stderr=subprocess.STDOUT)
        for _ in range(100):
            if subprocess.run(["pactl", "info"], env=self.env(), capture_output=True).returncode == 0:
                return
            time.sleep(0.1)
        raise RuntimeError("the sound server did not answer")

    def stop(self):
        if self.process is not None and self.process.poll() is None:
            self.process.terminate()
            self.process.wait(10)


class Recorder:
    """parec on the null sink's monitor, as raw 16-bit stereo."""

    def __init__(self, server, path):
        self.path = path
        self.process = subprocess.Popen(
            ["parec", "-d", SINK + ".monitor", "--rate=%d" % RATE, "--channels=2",
             "--format=s16le", "--raw", "--latency-msec=20", path], env=server.env())
        time.sleep(0.5)  # connected before the program starts playing

    def stop(self):
        time.sleep(0.5)
        self.process.send_signal(signal.SIGINT)
        self.process.wait(10)
        samples = array.array("h")
        with open(self.path, "rb") as f:
            samples.frombytes(f.read())
        return samples[0::2], samples[1::2]


def run_wine(args, wine, server, timeout, extra_env=None):
    env = server.env()
    env.setdefault("WINEDEBUG", "-all")
    env.setdefault("WINEPREFIX", os.path.join(os.path.dirname(args[0]), "..", "wineprefix"))
    env.update(extra_env or {})
    return subprocess.run([wine] + args, env=env, capture_output=True, text=True, timeout=timeout)


def loud_runs(channel, threshold, window=240):
    """(start, end) sample indices of the runs where the channel's peak over
    `window` samples reaches `threshold`."""
    runs = []
    start = None
    for i in range(0, len(channel) - window, window):
        loud = max(abs(v) for v in channel[i:i + window]) >= threshold
        if loud and start is None:
            start = i
        elif not loud and start is not None:
            runs.append((start, i))
            start = None
    if start is not None:
        runs.append((start, len(channel)))
    return runs


def gaps_between(runs):
    """What a tone broken into pieces says: the silences between them, in ms
    and where they fell, the mark of an output that ran dry."""
    gaps = ["%.0f ms at %.3f s" % ((b[0] - a[1]) * 1000 / RATE, (a[1] - runs[0][0]) / RATE)
            for a, b in zip(runs, runs[1:])]
    return " (silent for %s into it)" % ", ".join(gaps) if gaps else ""


def pitch(channel, start, end):
    """Hz from the rising zero crossings between two sample indices."""
    crossings = [i for i in range(start + 1, end) if channel[i - 1] < 0 <= channel[i]]
    if len(crossings) < 3:
        return 0.0
    return (len(crossings) - 1) * RATE / (crossings[-1] - crossings[0])


def rms(channel, start, end):
    return math.sqrt(sum(v * v for v in channel[start:end]) / max(end - start, 1))


def check_tone(args, server, folder, failures):
    recorder = Recorder(server, os.path.join(folder, "tone.raw"))
    result = run_wine([args.tests, "--gtest_filter=WaveOutput.*"], args.wine, server, 120,
                      {"TRELLON_SOUND_REQUIRED": "1"})
    left, right = recorder.stop()
    print(result.stdout, result.stderr, sep="\n")
    if result.returncode != 0:
        failures.append("win32_sound_tests failed under the sound server")
        return
    runs = [r for r in loud_runs(left, 8000) if r[1] - r[0] > RATE // 2]
    if len(runs) != 1:
        failures.append("expected one tone of 1.5 s in the recording, found %s%s"
                        % (runs, gaps_between(runs)))
        return
    start, end = runs[0]
    seconds = (end - start) / RATE
    middle = (start + RATE // 10, end - RATE // 10)
    hz = pitch(left, *middle)
    ratio = rms(left, *middle) / max(rms(right, *middle), 1)
    level = rms(left, *middle) / (0.5 * 32767 / math.sqrt(2))
    print("tone: %.3f s at %.1f Hz, left %.2f of its level, left/right %.2f"
          % (seconds, hz, level, ratio))
    # Wine's winepulse takes a stream's first two seconds or so at two
    # thirds of its rate and pads the rest with silence too short to see
    # here, and the player catches up by skipping ahead: a tone that starts
    # a stream comes out up to a tenth longer.
    if not 1.45 <= seconds <= 1.5 * 1.1 + 0.01:
        failures.append("the tone lasted %.3f s, not 1.5 s" % seconds)
    if abs(hz - 750) > 5:
        failures.append("the tone was at %.1f Hz, not 750 Hz" % hz)
    if abs(ratio - 2) > 0.1:
        failures.append("left/right was %.2f, not 2" % ratio)
    if abs(level - 1) > 0.1:
        failures.append("the left channel was at %.2f of its level" % level)


def check_beeps(args, server, folder, failures):
    help_text = run_wine([args.gamesim, "--help"], args.wine, server, 60)
    if "--sound" not in help_text.stdout + help_text.stderr:
        print("gamesim.exe has no --sound yet: its beeps are not checked")
        return
    recorder = Recorder(server, os.path.join(folder, "beeps.raw"))
    # 6 s at 30 fps.
    result = run_wine([args.gamesim, "--sound", "--frames", "180"], args.wine, server, 60)
    left, right = recorder.stop()
    print(result.stdout, result.stderr, sep="\n")
    if result.returncode != 0:
        failures.append("gamesim.exe --sound exited with %d" % result.returncode)
        return
    # A beep cut by the start or the end of the recording is left out (the
    # null sink's monitor starts delivering as the game's stream starts).
    edge = RATE // 100
    runs = [(s, e) for s, e in loud_runs(left, 8000, window=48)
            if s >= edge and e <= len(left) - edge]
    # The game ends after its frames wherever its sound is, and its stream
    # with it: a last beep that stops short was cut by the game's exit.
    if runs and runs[-1][1] - runs[-1][0] < 0.054 * RATE:
        runs.pop()
    starts = [s / RATE for s, _ in runs]
    lengths = [(e - s) / RATE for s, e in runs]
    gaps = [b - a for a, b in zip(starts, starts[1:])]
    hz = [pitch(left, s, e) for s, e in runs]
    print("beeps at %s s, lasting %s s, at %s Hz" % (
        ["%.3f" % s for s in starts], ["%.3f" % n for n in lengths], ["%.0f" % h for h in hz]))
    if len(runs) < 3:
        failures.append("expected a beep each second, found %d in 6 s" % len(runs))
        return
    # Within the stream's first two seconds Wine plays slower (see
    # check_tone): a beep there may come some 50 ms late, or broken by a gap
    # of the server's (a run of 20 ms, then 40 ms 30 ms later, seen once).
    # The beeps from two seconds on keep to the time exactly.
    settled = [(s, n) for s, n in zip(starts, lengths) if s >= 2.0]
    if len(settled) < 2:
        failures.append("expected two beeps after the stream's first 2 s, found %d"
                        % len(settled))
    settled_gaps = [b[0] - a[0] for a, b in zip(settled, settled[1:])]
    if any(abs(g - 1.0) > 0.03 for g in settled_gaps):
        failures.append("the beeps were %s s apart, not 1 s" % gaps)
    if any(abs(n - 0.060) > 0.006 for _, n in settled):
        failures.append("the beeps lasted %s s, not 0.060 s" % lengths)
    if any(abs(h - 1000) > 10 for h in hz):
        failures.append("the beeps were at %s Hz, not 1000 Hz" % hz)
    if any(abs(l - r) > 1 for l, r in zip(left, right)):
        failures.append("the beeps' channels differ")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--wine", required=True)
    parser.add_argument("--tests", required=True)
    parser.add_argument("--gamesim", required=True)
    args = parser.parse_args()
    for tool in ("pulseaudio", "pactl", "parec"):
        if shutil.which(tool) is None:
            skip("%s is not installed (scripts/setup installs it)" % tool)
    folder = tempfile.mkdtemp(prefix="trellon-winsound-")
    server = SoundServer(folder)
    failures = []
    try:
        server.start()
        check_tone(args, server, folder, failures)
        check_beeps(args, server, folder, failures)
    finally:
        server.stop()
    if failures:
        print("FAILED:\n  " + "\n  ".join(failures))
        print("(the recordings and the server's log are in %s)" % folder)
        return 1
    shutil.rmtree(folder, ignore_errors=True)
    print("passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
