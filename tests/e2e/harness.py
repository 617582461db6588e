"""Test harness for driving Strellan for real: an Xvfb display, a Wine prefix
kept under the build tree, the program's process, and xdotool for input.

Every wait is for a condition (the window mapped, a log grown, the process
ended), never a fixed sleep. What follows an action must come within a few
seconds (STRELLAN_TEST_TIMEOUT) or the test fails then; only a program's
start has longer (STRELLAN_START_TIMEOUT), since under emulation a Wine
start takes most of a minute, and a start fails at once when the process
ends instead.
"""

import os
import shutil
import signal
import subprocess
import time

from Xlib import X, display as xdisplay, protocol

DEFAULT_TIMEOUT = float(os.environ.get("STRELLAN_TEST_TIMEOUT", "5"))
START_TIMEOUT = float(os.environ.get("STRELLAN_START_TIMEOUT", "30"))
# A helper program (xdotool, import, wrestool) that does not end by then
# has hung.
TOOL_TIMEOUT = 60


class TimeoutError_(AssertionError):
    pass


def wait_for(condition, what, timeout=DEFAULT_TIMEOUT, interval=0.05):
    """Polls condition() until it returns something true and returns that."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise TimeoutError_(f"timed out after {timeout:.0f} s waiting for {what}")
        time.sleep(interval)
        interval = min(interval * 1.5, 0.5)


def build_dir():
    d = os.environ.get("STRELLAN_BUILD_DIR")
    if not d:
        raise RuntimeError("STRELLAN_BUILD_DIR is not set; run the tests through ctest")
    return d


# What the programs under test cache (the Linux MIDI Mapper's pitch
# measurements) goes under the build tree, never into the user's own cache.
if os.environ.get("STRELLAN_BUILD_DIR"):
    os.environ["XDG_CACHE_HOME"] = os.path.join(build_dir(), "xdg-cache")


class XServer:
    """Xvfb on the first free display number from 90 up."""

    def __init__(self, width=1280, height=800):
        self.width, self.height = width, height
        self.proc = None
        self.name = None

    def start(self):
        for n in range(90, 190):
            if os.path.exists(f"/tmp/.X{n}-lock") or os.path.exists(f"/tmp/.X11-unix/X{n}"):
                continue
            proc = subprocess.Popen(
                ["Xvfb", f":{n}", "-screen", "0", f"{self.width}x{self.height}x24",
                 "-nolisten", "tcp", "-noreset"],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            try:
                wait_for(lambda: proc.poll() is not None or os.path.exists(f"/tmp/.X11-unix/X{n}"),
                         f"Xvfb :{n}", timeout=30)
            except AssertionError:
                proc.kill()
                continue
            if proc.poll() is not None:
                continue  # lost the race for this number
            self.proc, self.name = proc, f":{n}"
            self.conn = xdisplay.Display(self.name)
            return self
        raise RuntimeError("no free X display number")

    def stop(self):
        if self.proc:
            try:
                self.conn.close()
            except Exception:
                pass
            self.proc.terminate()
            self.proc.wait(timeout=30)
            self.proc = None

    # --- windows -------------------------------------------------------------

    def find_windows(self, title):
        """Viewable top-level windows whose WM_NAME or _NET_WM_NAME is title."""
        found = []
        net_wm_name = self.conn.intern_atom("_NET_WM_NAME")
        utf8 = self.conn.intern_atom("UTF8_STRING")
        for w in self.conn.screen().root.query_tree().children:
            try:
                if w.get_attributes().map_state != X.IsViewable:
                    continue
                name = w.get_wm_name()
                prop = w.get_full_property(net_wm_name, utf8)
                if prop is not None:
                    name = prop.value.decode("utf-8", "replace")
                if isinstance(name, bytes):
                    name = name.decode("latin-1")
                if name == title:
                    found.append(w)
            except Exception:
                continue  # a window that went away meanwhile
        return found

    def geometry(self, window):
        """(x, y, width, height) of a top-level window on the screen."""
        g = window.get_geometry()
        t = window.translate_coords(self.conn.screen().root, 0, 0)
        return (-t.x, -t.y, g.width, g.height)

    def send_delete_window(self, window):
        """What a window manager's close button does: a WM_DELETE_WINDOW
        client message of the WM_PROTOCOLS type."""
        protocols = self.conn.intern_atom("WM_PROTOCOLS")
        delete = self.conn.intern_atom("WM_DELETE_WINDOW")
        ev = protocol.event.ClientMessage(window=window, client_type=protocols,
                                          data=(32, [delete, X.CurrentTime, 0, 0, 0]))
        window.send_event(ev, event_mask=X.NoEventMask)
        self.conn.flush()

    # --- input through xdotool (XTEST) ----------------------------------------

    def xdotool(self, *args):
        subprocess.run(["xdotool", *map(str, args)], check=True, timeout=TOOL_TIMEOUT,
                       env=dict(os.environ, DISPLAY=self.name))

    def focus(self, window):
        self.xdotool("windowfocus", "--sync", window.id)

    def move(self, x, y):
        """xdotool's arguments that put the pointer at (x, y). Its --sync
        waits for the pointer to move, which it never does when it is there
        already: then there is nothing to wait for."""
        here = self.conn.screen().root.query_pointer()
        if (here.root_x, here.root_y) == (x, y):
            return ["mousemove", x, y]
        return ["mousemove", "--sync", x, y]

    def click(self, x, y):
        self.xdotool(*self.move(x, y), "click", "1")

    def key(self, *keys):
        self.xdotool("key", "--delay", "60", *keys)

    def screenshot(self, window, path):
        """A PNG of the window, for people to look at."""
        subprocess.run(["import", "-display", self.name, "-window", str(window.id), path],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=TOOL_TIMEOUT)

    def pixels(self, window, x=0, y=0, width=None, height=None):
        """The window's pixels (or a part of them) as the server has them,
        for comparing what is drawn."""
        g = window.get_geometry()
        image = window.get_image(x, y, width or g.width, height or g.height, X.ZPixmap,
                                 0xFFFFFFFF)
        return image.data


class Wine:
    """A Wine prefix made once under the build tree and kept, with a
    persistent wineserver for the tests' lifetime."""

    def __init__(self, xserver, prefix=None):
        self.x = xserver
        self.prefix = prefix or os.path.join(build_dir(), "wine-prefix")

    def env(self, overrides=""):
        env = dict(os.environ)
        # Where the 32-bit Wine runs under qemu-i386 (see
        # scripts/install-deps.sh), reserve the guest's address space up
        # front: left to chance, qemu's own mappings now and then sit where
        # Wine must map its shared user data, and Wine cannot start.
        # Ignored where i386 programs run natively.
        env.setdefault("QEMU_RESERVED_VA", "0xf7000000")
        env.update(WINEPREFIX=self.prefix, DISPLAY=self.x.name, WINEDEBUG="-all",
                   # no Mono or Gecko installers; strellan needs neither
                   WINEDLLOVERRIDES=";".join(filter(None, ["mscoree,mshtml=", overrides])))
        return env

    def ensure_prefix(self):
        stamp = os.path.join(self.prefix, ".strellan-prefix-ready")
        if not os.path.exists(stamp):
            shutil.rmtree(self.prefix, ignore_errors=True)
            os.makedirs(os.path.dirname(self.prefix), exist_ok=True)
            # The default prefix (64-bit, running 32-bit programs through
            # WoW64) keeps Wine's own services native, which matters where
            # the 32-bit side runs under emulation.
            env = self.env()
            subprocess.run(["wineboot", "--init"], env=env, check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           timeout=1800)
            subprocess.run(["wineserver", "--wait"], env=env, check=True, timeout=1800)
            with open(stamp, "w"):
                pass
        # Keep one wineserver across the tests' program starts.
        subprocess.run(["wineserver", "--persistent"], env=self.env(), check=True)
        return self

    def shutdown(self):
        subprocess.run(["wineserver", "--kill"], env=self.env(),
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def start(self, exe, stdout_path, overrides="", extra_env=None):
        """Starts exe, which must be in a folder of its own."""
        env = self.env(overrides)
        for name, value in (extra_env or {}).items():
            # Paths handed to the Windows side are Windows paths.
            env[name] = windows_path(value) if name == "STRELLAN_MIDI_LOG" else value
        return start_process(["wine", os.path.basename(exe)], os.path.dirname(exe), env,
                             stdout_path)


def start_process(argv, cwd, env, stdout_path):
    """Starts a program with its standard output in a file, as bytes."""
    with open(stdout_path, "wb") as out:
        return subprocess.Popen(argv, cwd=cwd, env=env, stdin=subprocess.DEVNULL, stdout=out,
                                stderr=subprocess.DEVNULL)


def windows_path(unix_path):
    """Wine maps the Unix root to drive Z:."""
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")


# --- one run of the program -----------------------------------------------------

class Layout:
    """Where the controls are, from the dialog template the program was built
    with, and which string is which, from the program's own table."""

    def __init__(self, template):
        import layout
        self.template = template
        self.strings = layout.reference_strings()
        self.by_pitch = {s.pitch: s for s in self.strings}

    def control(self, name):
        """A push button by its text ("Play"), or a string's radio button by
        its pitch ("A2")."""
        if name in self.by_pitch:
            return self.template.control(self.by_pitch[name].control_id)
        return self.template.push_button(name)


def program_layout():
    """The layout of the program under test, from the compiled resources
    that its build embeds (STRELLAN_RES)."""
    import layout
    return Layout(layout.template_from_res(os.environ["STRELLAN_RES"]))


class Run:
    """One run of the program in a folder of its own under the build tree.
    launch(folder, stdout_path, extra_env) starts the process."""

    def __init__(self, x_server, layout, test_id, launch, log=True, open_result=None,
                 start_timeout=START_TIMEOUT):
        self.x_server = x_server
        self.layout = layout
        self.dir = os.path.join(build_dir(), "e2e", test_id)
        shutil.rmtree(self.dir, ignore_errors=True)
        os.makedirs(self.dir)
        self.log_path = os.path.join(self.dir, "midi.log")
        self.stdout_path = os.path.join(self.dir, "stdout.bin")
        env = {}
        if log:
            env["STRELLAN_MIDI_LOG"] = self.log_path
            if open_result is not None:
                env["STRELLAN_MIDI_OPEN_RESULT"] = str(open_result)
        self.proc = launch(self.dir, self.stdout_path, env)
        self.window = wait_for(self._window, "the Strellan window to be mapped",
                               timeout=start_timeout)
        self.x, self.y, self.width, self.height = x_server.geometry(self.window)
        if log:
            # Start-up is over once the open is logged: the radio button is
            # checked right after it.
            wait_for(lambda: any(l.startswith("midiOutOpen") for l in self.log()),
                     "the MIDI open", timeout=start_timeout)

    def _window(self):
        if self.proc.poll() is not None:
            raise AssertionError(f"the program ended early with {self.proc.returncode}")
        found = self.x_server.find_windows("Strellan")
        return found[0] if len(found) == 1 else None

    def log(self):
        try:
            with open(self.log_path) as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []

    def stdout(self):
        with open(self.stdout_path, "rb") as f:
            return f.read()

    def wait_log(self, length):
        return wait_for(lambda: len(self.log()) >= length and self.log(),
                        f"{length} lines in the MIDI log")

    def point(self, control):
        """Screen position of a control's centre: the template's dialog
        units scaled to the window's client size."""
        du_x, du_y = self.layout.control(control).centre()
        return (self.x + round(du_x * self.width / self.layout.template.cx),
                self.y + round(du_y * self.height / self.layout.template.cy))

    def click(self, control):
        self.x_server.click(*self.point(control))

    def key(self, *keys):
        self.x_server.focus(self.window)
        self.x_server.key(*keys)

    def wait_exit(self):
        try:
            return self.proc.wait(timeout=DEFAULT_TIMEOUT * 2)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            raise AssertionError("the program did not end")

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()


# --- sound ------------------------------------------------------------------------

class SoundServer:
    """A private PulseAudio server with one null sink, "strellan", at the
    given rate (48 kHz unless said); what reaches the sink is recorded from
    its monitor. Runs as root too. Stopped and started again, it comes back
    on the same socket, as a desktop's restarted sound server does."""

    def __init__(self, rate=48000):
        self.dir = os.path.join(build_dir(), "pulse")
        self.rate = rate
        self.proc = None

    @property
    def server(self):
        return "unix:" + os.path.join(self.dir, "native")

    def env(self):
        return {"PULSE_SERVER": self.server}

    def start(self, rate=None):
        self.rate = rate or self.rate
        shutil.rmtree(self.dir, ignore_errors=True)
        os.makedirs(self.dir)
        env = dict(os.environ, HOME=self.dir, XDG_RUNTIME_DIR=self.dir,
                   XDG_CONFIG_HOME=self.dir)
        env.pop("PULSE_SERVER", None)
        os.makedirs(os.path.join(self.dir, "pulse"))
        with open(os.path.join(self.dir, "pulse", "daemon.conf"), "w") as conf:
            conf.write(f"default-sample-rate = {self.rate}\nalternate-sample-rate = {self.rate}\n")
        self.log = open(os.path.join(self.dir, "server.log"), "wb")
        self.proc = subprocess.Popen(
            ["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
             "--system=no", "--disallow-exit", "--log-target=stderr",
             "-L", f"module-null-sink sink_name=strellan rate={self.rate}",
             "-L", f"module-native-protocol-unix socket={self.dir}/native auth-anonymous=1"],
            env=env, stdin=subprocess.DEVNULL, stdout=self.log, stderr=self.log)
        wait_for(lambda: self.proc.poll() is not None or subprocess.run(
            ["pactl", "info"], env=dict(os.environ, **self.env()), timeout=TOOL_TIMEOUT,
            capture_output=True).returncode == 0, "PulseAudio to answer", timeout=60)
        if self.proc.poll() is not None:
            raise RuntimeError(f"pulseaudio ended at start; see {self.dir}/server.log")
        return self

    def stop(self):
        if self.proc:
            self.resume()
            self.proc.terminate()
            self.proc.wait(timeout=30)
            self.proc = None
            self.log.close()

    def kill(self):
        """Gone at once, as a crash leaves it."""
        self.proc.kill()
        self.proc.wait(timeout=30)
        self.proc = None
        self.log.close()

    def freeze(self):
        """There, but not answering: stopped."""
        self.proc.send_signal(signal.SIGSTOP)

    def resume(self):
        if self.proc:
            self.proc.send_signal(signal.SIGCONT)

    def record(self, path):
        return Recording(self, path)


class Recording:
    """parec from the sink's monitor into a file of mono float samples, at
    48 kHz whatever the sink's rate (the server resamples)."""

    RATE = 48000

    def __init__(self, server, path):
        self.path = path
        self.started = time.monotonic()
        with open(path, "wb") as out:
            self.proc = subprocess.Popen(
                ["parec", "--device=strellan.monitor", "--format=float32le",
                 f"--rate={self.RATE}", "--channels=1", "--raw", "--latency-msec=5"],
                env=dict(os.environ, **server.env()), stdout=out, stderr=subprocess.DEVNULL)
        # Recording once the first bytes arrive.
        wait_for(lambda: os.path.getsize(path) > 0, "the recording to start", timeout=30)

    def seconds(self):
        return os.path.getsize(self.path) / 4 / self.RATE

    def stop(self):
        self.proc.terminate()
        self.proc.wait(timeout=30)

    def samples(self):
        import numpy
        return numpy.fromfile(self.path, dtype=numpy.float32)
