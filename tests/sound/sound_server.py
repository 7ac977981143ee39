#!/usr/bin/env python3
"""A real sound server of a test's own, for Python tests and shell scripts.

The same as SoundServer.h does for the C++ tests: PulseAudio alone, or
PipeWire with WirePlumber and its pulse server on a private D-Bus, in a
private runtime folder, with two null sinks (SINK, the default, and
OTHER_SINK). A Python test uses it as

    with SoundServer("pipewire") as server:
        subprocess.run([...], env=server.env)

and from a shell, `sound_server.py pulseaudio -- COMMAND...` runs COMMAND
against a server and ends it afterwards (exit code 77 when no server could
start, with the reason on stderr). Only the processes started here are
ended, by their pids.
"""

import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SINK = "trellon_test"
OTHER_SINK = "trellon_other"
START_LIMIT = 15.0


class SoundServerError(RuntimeError):
    pass


class SoundServer:
    def __init__(self, kind):
        if kind not in ("pulseaudio", "pipewire"):
            raise ValueError("kind is pulseaudio or pipewire")
        self.kind = kind
        self.folder = None
        self.env = None
        self._processes = []

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.stop()

    def start(self):
        self.folder = tempfile.mkdtemp(prefix="trellon-sound-")
        runtime = os.path.join(self.folder, "runtime")
        os.makedirs(os.path.join(runtime, "pulse"))
        os.makedirs(os.path.join(self.folder, "home"))
        os.chmod(runtime, 0o700)
        client = os.path.join(self.folder, "client.conf")
        with open(client, "w") as f:
            f.write("autospawn = no\n")
        env = dict(os.environ)
        env.pop("DBUS_SESSION_BUS_ADDRESS", None)
        env.update(
            XDG_RUNTIME_DIR=runtime,
            PULSE_RUNTIME_PATH=os.path.join(runtime, "pulse"),
            PULSE_CLIENTCONFIG=client,
            HOME=os.path.join(self.folder, "home"),
            PULSE_SERVER="unix:" + os.path.join(runtime, "pulse", "native"),
        )
        self.env = env
        try:
            if self.kind == "pulseaudio":
                self._start_pulseaudio()
            else:
                self._start_pipewire()
            # An idle null sink renders two seconds ahead; a silent stream
            # of small latency keeps each one as a desktop's busy sink.
            for sink in (SINK, OTHER_SINK):
                self._launch(["pacat", "--raw", "--latency-msec=20",
                              "--device=" + sink, "/dev/zero"], "keeper-" + sink)
        except (OSError, SoundServerError):
            self.stop()
            raise

    def _launch(self, args, name):
        log = open(os.path.join(self.folder, name + ".log"), "wb")
        try:
            process = subprocess.Popen(args, env=self.env, stdin=subprocess.DEVNULL,
                                       stdout=log, stderr=subprocess.STDOUT)
        finally:
            log.close()
        self._processes.append(process)
        return process

    def _pactl(self, *args):
        return subprocess.run(["pactl", *args], env=self.env, capture_output=True, text=True)

    def _wait(self, ready, what):
        end = time.monotonic() + START_LIMIT
        while time.monotonic() < end:
            if ready():
                return
            for process in self._processes:
                if process.poll() is not None:
                    raise SoundServerError("%s ended at once: %s" % (process.args[0], self._logs()))
            time.sleep(0.05)
        raise SoundServerError("%s within %g s: %s" % (what, START_LIMIT, self._logs()))

    def _logs(self):
        text = ""
        for name in sorted(os.listdir(self.folder)):
            if name.endswith(".log"):
                with open(os.path.join(self.folder, name), errors="replace") as f:
                    text += f.read()
        return text[-600:]

    def _start_pulseaudio(self):
        config = os.path.join(self.folder, "server.pa")
        with open(config, "w") as f:
            f.write("load-module module-native-protocol-unix auth-anonymous=1 socket=%s\n"
                    % os.path.join(self.env["PULSE_RUNTIME_PATH"], "native"))
            for sink in (SINK, OTHER_SINK):
                f.write("load-module module-null-sink norewinds=1 sink_name=%s\n" % sink)
            f.write("set-default-sink %s\n" % SINK)
        self._launch(["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
                      "--use-pid-file=no", "--system=no", "--log-target=stderr", "-F", config],
                     "pulseaudio")
        self._wait(lambda: self._pactl("info").returncode == 0, "PulseAudio did not answer")

    def _start_pipewire(self):
        runtime = self.env["XDG_RUNTIME_DIR"]
        bus = os.path.join(runtime, "bus")
        self._launch(["dbus-daemon", "--session", "--nofork", "--nopidfile",
                      "--address=unix:path=" + bus], "dbus")
        self.env["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=" + bus
        self._wait(lambda: os.path.exists(bus), "the session bus did not start")
        self._launch(["pipewire"], "pipewire")
        self._wait(lambda: os.path.exists(os.path.join(runtime, "pipewire-0")),
                   "PipeWire did not start")
        self._launch(["wireplumber"], "wireplumber")
        self._launch(["pipewire-pulse"], "pipewire-pulse")
        self._wait(lambda: self._pactl("info").returncode == 0, "PipeWire's pulse server did not answer")
        for sink in (SINK, OTHER_SINK):
            made = self._pactl("load-module", "module-null-sink", "sink_name=" + sink)
            if made.returncode != 0:
                raise SoundServerError("PipeWire refused a null sink: " + made.stderr)

        def default_taken():
            self._pactl("set-default-sink", SINK)
            return SINK in self._pactl("get-default-sink").stdout

        self._wait(default_taken, "PipeWire did not take %s as its default sink" % SINK)

    def stop(self):
        # The last started depends on those before it: ended first.
        for process in reversed(self._processes):
            if process.poll() is None:
                process.send_signal(signal.SIGTERM)
                try:
                    process.wait(2)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()
        self._processes = []
        if self.folder:
            shutil.rmtree(self.folder, ignore_errors=True)
            self.folder = None


def main(argv):
    if len(argv) < 3 or argv[1] not in ("pulseaudio", "pipewire") or argv[2] != "--":
        sys.stderr.write("usage: sound_server.py pulseaudio|pipewire -- COMMAND...\n")
        return 2
    try:
        with SoundServer(argv[1]) as server:
            return subprocess.run(argv[3:], env=server.env).returncode
    except (OSError, SoundServerError) as error:
        sys.stderr.write("sound_server.py: %s could not start here: %s\n" % (argv[1], error))
        return 77


if __name__ == "__main__":
    sys.exit(main(sys.argv))
