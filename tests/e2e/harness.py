"""Test harness for driving Strellan for real: an Xvfb display, a Wine prefix
kept under the build tree, the program's process, and xdotool for input.

Every wait is for a condition (the window mapped, a log grown, the process
ended), never a fixed sleep; the one period on the clock is what CPU time
is measured over (cpu_over). What follows an action must come within a few
seconds (STRELLAN_TEST_TIMEOUT) or the test fails then; only a program's
start has longer (STRELLAN_START_TIMEOUT), since under emulation a Wine
start takes seconds, and a start fails at once when the process ends
instead.
"""

import bisect
import contextlib
import os
import shutil
import signal
import subprocess
import sys
import threading
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


def program_env(overrides=None):
    """This process's environment, as a program under test gets it: what it
    caches (the Linux MIDI Mapper's pitch measurements) goes under the build
    tree, never into the user's own cache; overrides over that."""
    env = dict(os.environ, XDG_CACHE_HOME=os.path.join(build_dir(), "xdg-cache"))
    env.update(overrides or {})
    return env


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
        env = program_env()
        # Where the 32-bit Wine runs under qemu-i386 (see
        # scripts/install-deps.sh), reserve the guest's address space up
        # front: left to chance, qemu's own mappings now and then sit where
        # Wine must map its shared user data, and Wine cannot start. Keep
        # it to 2 GiB and a little for the guest's stack: Debian's Wine has
        # no preloader, so every start reserves all the space above 2 GiB
        # itself, one 64 KiB piece at a time through qemu's mmap, which
        # took 50 s of each start at 0xf7000000 and takes 4 s here.
        # Ignored where i386 programs run natively.
        env.setdefault("QEMU_RESERVED_VA", "0x82000000")
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


def cpu_seconds(pid):
    """The CPU time a process has had, its threads' included, in seconds."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def cpu_over(pid, seconds):
    """The CPU time a process takes over the next seconds: a period on the
    clock, the one wait that is not for a condition."""
    before, since = cpu_seconds(pid), time.monotonic()
    wait_for(lambda: time.monotonic() > since + seconds, f"{seconds} s",
             timeout=seconds + DEFAULT_TIMEOUT)
    return cpu_seconds(pid) - before


def rss_mib(pid):
    """A process's resident memory in MiB; 0 once it is gone."""
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1]) / 1024
    except FileNotFoundError:
        pass
    return 0.0


def start_process(argv, cwd, env, stdout_path, stderr_path=None):
    """Starts a program with its standard output in a file, as bytes, and
    its standard error in another (or nowhere)."""
    with open(stdout_path, "wb") as out, open(stderr_path or os.devnull, "wb") as err:
        return subprocess.Popen(argv, cwd=cwd, env=env, stdin=subprocess.DEVNULL, stdout=out,
                                stderr=err)


def launcher(argv, x_server, env=None, stderr_name=None):
    """How a Run starts a native program: argv on x_server, with env over
    this process's environment, its standard error in stderr_name in the
    run's folder when given."""
    def launch(folder, stdout_path, extra):
        full = program_env(dict(env or {}, DISPLAY=x_server.name, **extra))
        stderr_path = os.path.join(folder, stderr_name) if stderr_name else None
        return start_process(argv, folder, full, stdout_path, stderr_path)
    return launch


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


def set_up_module(layout=None):
    """What every end-to-end module starts with: an Xvfb, stopped when the
    module's tests are over, and the layout of the program under test (the
    native program's, unless given); both."""
    import unittest
    x_server = XServer().start()
    unittest.addModuleCleanup(x_server.stop)
    return x_server, layout or program_layout()


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
    """A private sound server with one null sink, "strellan", at the given
    rate (48 kHz unless said), that PulseAudio clients reach at
    {dir}/native; what reaches the sink is recorded from its monitor. Runs
    as root too. Stopped and started again, it comes back on the same
    socket, as a desktop's restarted sound server does."""

    name = None

    def __init__(self, rate=48000):
        self.dir = os.path.join(build_dir(), self.name)
        self.rate = rate
        self.procs = {}

    @property
    def server(self):
        return "unix:" + os.path.join(self.dir, "pulse", "native")

    def env(self):
        return {"PULSE_SERVER": self.server}

    def _env(self):
        env = dict(os.environ, HOME=self.dir, XDG_RUNTIME_DIR=self.dir,
                   XDG_CONFIG_HOME=os.path.join(self.dir, "config"),
                   XDG_STATE_HOME=os.path.join(self.dir, "state"))
        env.pop("PULSE_SERVER", None)
        return env

    def _spawn(self, name, argv, env=None):
        log = open(os.path.join(self.dir, f"{name}.log"), "ab")
        self.procs[name] = subprocess.Popen(argv, env=env or self._env(), stdin=subprocess.DEVNULL,
                                            stdout=log, stderr=log)
        log.close()

    def _answers(self):
        """The null sink is there for PulseAudio clients."""
        if any(p.poll() is not None for p in self.procs.values()):
            raise RuntimeError(f"{self.name}: a server ended at start; see {self.dir}/*.log")
        sinks = subprocess.run(["pactl", "list", "short", "sinks"], capture_output=True,
                               text=True, env=dict(os.environ, **self.env()),
                               timeout=TOOL_TIMEOUT).stdout
        return any(line.split("\t")[1:2] == ["strellan"] for line in sinks.splitlines())

    def start(self, rate=None):
        self.rate = rate or self.rate
        shutil.rmtree(self.dir, ignore_errors=True)
        os.makedirs(os.path.join(self.dir, "pulse"))
        self._configure()
        self._launch()
        wait_for(self._answers, f"{self.name} to answer", timeout=60)
        return self

    def _end(self, names, sig):
        for name in names:
            proc = self.procs.pop(name, None)
            if proc:
                proc.send_signal(signal.SIGCONT)
                proc.send_signal(sig)
                proc.wait(timeout=30)

    def stop(self):
        self._end(list(reversed(self.procs)), signal.SIGTERM)

    def kill(self):
        """Gone at once, as a crash leaves it."""
        self._end(list(reversed(self.procs)), signal.SIGKILL)

    def freeze(self):
        """There, but not answering: stopped."""
        self.procs[self.pulse_server].send_signal(signal.SIGSTOP)

    def restart(self, rate=None):
        """Gone and back on the same socket, perhaps at another rate."""
        self.stop()
        self.start(rate)

    def record(self, path):
        return Recording(self, path)

    def wait_for_stream(self):
        """Until Strellan's stream is at the server: its MIDI open is over,
        and its start-up with it (E2 is checked right after)."""
        def there():
            inputs = subprocess.run(["pactl", "list", "sink-inputs"], capture_output=True,
                                    text=True, env=dict(os.environ, **self.env()),
                                    timeout=TOOL_TIMEOUT).stdout
            return 'application.name = "Strellan"' in inputs
        wait_for(there, "Strellan's stream at the sound server", timeout=START_TIMEOUT)

    def excused(self, found, busy=False):
        """Those of a note's dropouts that the server itself makes on this
        machine, whatever plays, its cores busy or not: none."""
        return []


class PulseAudio(SoundServer):
    name = "pulseaudio"
    pulse_server = "pulseaudio"
    capture_frames = 240  # 5 ms

    def _configure(self):
        with open(os.path.join(self.dir, "pulse", "daemon.conf"), "w") as conf:
            conf.write(f"default-sample-rate = {self.rate}\nalternate-sample-rate = {self.rate}\n")

    def _launch(self):
        # The native protocol's socket where PULSE_SERVER points.
        self._spawn("pulseaudio", [
            "pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
            "--system=no", "--disallow-exit", "--log-target=stderr",
            "-L", f"module-null-sink sink_name=strellan rate={self.rate}",
            "-L", f"module-native-protocol-unix socket={self.dir}/pulse/native "
                  "auth-anonymous=1"])


class PipeWire(SoundServer):
    """PipeWire as Debian's desktops run it: a session D-Bus of its own,
    pipewire, WirePlumber and pipewire-pulse, which serves PulseAudio's
    protocol at $XDG_RUNTIME_DIR/pulse/native. The null sink is PipeWire's
    own node, made by pipewire itself: it stays while pipewire-pulse
    restarts. WirePlumber looks for no devices (ALSA, Bluetooth, cameras)."""

    name = "pipewire"
    pulse_server = "pipewire-pulse"
    # One graph cycle at PipeWire's default quantum, so that every cycle's
    # samples come at once: a shorter capture would pull the graph into
    # shorter cycles, where PipeWire drops samples on these machines; a
    # longer one would stretch the cycle, or deliver two at a time.
    capture_frames = 1024
    QUANTUM = 1024  # PipeWire's default graph cycle, which Strellan's stream keeps

    SINK = """context.properties = {{
    default.clock.rate = {rate}
    default.clock.allowed-rates = [ {rate} ]
}}
context.objects = [
    {{ factory = adapter
        args = {{
            factory.name = support.null-audio-sink
            node.name = strellan
            node.description = "Strellan's test sink"
            media.class = Audio/Sink
            audio.position = [ FL FR ]
            monitor.channel-volumes = true
        }}
    }}
]
"""
    # WirePlumber 0.4 (Debian 12) reads Lua; 0.5 (Debian 13) profiles.
    NO_DEVICES = {
        "wireplumber/main.lua.d/51-strellan.lua":
            "alsa_monitor.enabled = false\nv4l2_monitor.enabled = false\n"
            "libcamera_monitor.enabled = false\n",
        "wireplumber/bluetooth.lua.d/51-strellan.lua": "bluez_monitor.enabled = false\n",
        "wireplumber/wireplumber.conf.d/51-strellan.conf":
            "wireplumber.profiles = { main = { monitor.alsa = disabled monitor.bluez = disabled "
            "monitor.v4l2 = disabled monitor.libcamera = disabled } }\n",
    }

    def _env(self):
        return dict(super()._env(), PIPEWIRE_RUNTIME_DIR=self.dir,
                    DBUS_SESSION_BUS_ADDRESS="unix:path=" + os.path.join(self.dir, "bus"))

    def _configure(self):
        files = dict(self.NO_DEVICES)
        files["pipewire/pipewire.conf.d/51-strellan.conf"] = self.SINK.format(rate=self.rate)
        for name, text in files.items():
            path = os.path.join(self.dir, "config", name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "w") as f:
                f.write(text)

    def _launch(self):
        bus = os.path.join(self.dir, "bus")
        self._spawn("dbus", ["dbus-daemon", "--session", "--nofork", "--nopidfile",
                             "--address=unix:path=" + bus])
        wait_for(lambda: os.path.exists(bus), "the session bus", timeout=30)
        self._launch_servers()

    def _launch_servers(self):
        self._spawn("pipewire", ["pipewire"])
        wait_for(lambda: os.path.exists(os.path.join(self.dir, "pipewire-0")), "pipewire",
                 timeout=30)
        self._spawn("wireplumber", ["wireplumber"])
        self._spawn("pipewire-pulse", ["pipewire-pulse"])

    def excused(self, found, busy=False):
        """A graph cycle lost, or most of one: on small and virtual machines
        PipeWire now and then drops one for every client, pacat with its
        2 s buffer too (test_sound's control hears it). With the cores
        busy, the host here holds the whole machine up often enough that
        PipeWire drops cycles of any client many times a minute: a 20 s
        tone from pacat with Strellan's buffering (170 ms, refilled 60 ms at
        a time) held 4 to 33 dropouts, with 300 ms 10, with 500 ms 1, all
        of them lost cycles and the cuts beside them."""
        import audio
        return audio.dropped_cycles(found, self.QUANTUM / self.rate, busy)

    def restart_pulse(self):
        """pipewire-pulse alone, as systemctl --user restart pipewire-pulse."""
        self._end(["pipewire-pulse"], signal.SIGTERM)
        self._spawn("pipewire-pulse", ["pipewire-pulse"])
        wait_for(self._answers, "pipewire-pulse to answer again", timeout=60)

    def restart(self, rate=None):
        """pipewire and WirePlumber, and pipewire-pulse with them, as
        systemctl --user restart pipewire does; the session bus stays."""
        self._end(["pipewire-pulse", "wireplumber", "pipewire"], signal.SIGTERM)
        self.rate = rate or self.rate
        self._configure()
        self._launch_servers()
        wait_for(self._answers, "PipeWire to answer again", timeout=60)


# Whether cores_kept_busy's spinners run: what the server is excused changes.
cores_busy = False


@contextlib.contextmanager
def cores_kept_busy():
    """Every core kept busy by a spinning process of normal priority, as a
    build or a browser would keep it, for as long as the block runs."""
    global cores_busy
    spinners = [subprocess.Popen(["sh", "-c", "while :; do :; done"])
                for _ in range(os.cpu_count() or 2)]
    cores_busy = True
    try:
        yield
    finally:
        cores_busy = False
        for spinner in spinners:
            spinner.kill()
            spinner.wait()


def assert_clean(test, sound, rec, name, start, count):
    """The count samples from start, a note's, hold no dropout but one
    graph cycle that the server itself lost (at most once a test, said on
    stderr; any number of them while the cores are kept busy: on
    PulseAudio, which loses none, the busy machine's notes are judged in
    full); the note's samples."""
    import audio
    note = rec.samples(start, start + count)
    found = audio.dropouts(note)
    excused = sound.excused(found, cores_busy)
    if excused and (cores_busy or not getattr(test, "cycle_excused", False)):
        test.cycle_excused = True
        print(f"\n{sound.name} lost a graph cycle in {name}, as it does for any client "
              f"here: {audio.describe_dropouts(name, excused)}", file=sys.stderr)
        found = [d for d in found if d not in excused]
    test.assertEqual(found, [], audio.describe_dropouts(
        f"{name}, struck {start / audio.RATE:.3f} s into {rec.path}", found))
    return note


# The sound server that the sound tests run on: pulseaudio, or pipewire.
SOUND_SERVER = os.environ.get("STRELLAN_SOUND_SERVER", "pulseaudio")


def sound_server():
    return {"pulseaudio": PulseAudio, "pipewire": PipeWire}[SOUND_SERVER]()


class Recording:
    """parec from the sink's monitor, at 48 kHz whatever the sink's rate (the
    server resamples), in stereo and made mono here as the mean of the two
    channels (servers differ in how they mix down), read as they come, each block
    stamped as it arrives, and kept in a file for people to listen to. Its
    capture fragment is the server's (capture_frames): a recorder that falls
    behind loses blocks of its own, which would pass for the program's
    dropouts."""

    RATE = 48000
    # WirePlumber 0.4 (Debian 12) now and then leaves a stream that comes
    # while it starts unlinked for good ("pending linkable(s) not activated
    # in 20sec"): a recorder that has heard nothing in a while starts again.
    START_TRIES, START_TIMEOUT = 3, 10

    def __init__(self, server, path):
        import numpy
        self.path = path
        os.makedirs(os.path.dirname(path), exist_ok=True)
        self.file = open(path, "wb")
        self.lock = threading.Lock()
        self.data = numpy.zeros(self.RATE * 10, dtype=numpy.float32)
        self.count = 0
        self.ends, self.arrivals = [], []
        for attempt in range(1, self.START_TRIES + 1):
            self.proc = subprocess.Popen(
                ["parec", "--device=strellan.monitor", "--format=float32le",
                 f"--rate={self.RATE}", "--channels=2", "--raw",
                 f"--latency={server.capture_frames * 8}"],
                env=dict(os.environ, **server.env()), stdout=subprocess.PIPE,
                stderr=subprocess.DEVNULL)
            self.reader = threading.Thread(target=self._read, args=(self.proc,), daemon=True)
            self.reader.start()
            try:
                wait_for(lambda: self.count > 0, "the recording to start",
                         timeout=self.START_TIMEOUT)
                return
            except TimeoutError_:
                self._end_parec()
                if attempt == self.START_TRIES:
                    raise
                print(f"\n{server.name}: the recorder heard nothing in {self.START_TIMEOUT} s; "
                      "starting it again", file=sys.stderr)

    def _read(self, proc):
        import numpy
        left = b""
        while True:
            chunk = os.read(proc.stdout.fileno(), 1 << 16)
            arrived = time.monotonic()
            if not chunk:
                break
            chunk = left + chunk
            usable = len(chunk) // 8 * 8
            frames, left = numpy.frombuffer(chunk[:usable], dtype=numpy.float32), chunk[usable:]
            block = frames.reshape(-1, 2).mean(axis=1, dtype=numpy.float32)
            self.file.write(block.tobytes())
            with self.lock:
                if self.count + len(block) > len(self.data):
                    self.data = numpy.concatenate((self.data, numpy.zeros_like(self.data)))
                self.data[self.count:self.count + len(block)] = block
                self.count += len(block)
                self.ends.append(self.count)
                self.arrivals.append(arrived)

    def frames(self):
        """How many samples have arrived: any sound that an action makes
        from now on comes after them."""
        with self.lock:
            return self.count

    def time_of(self, index):
        """When the sample at index reached the recorder: the arrival of the
        block it came in, no earlier than it sounded."""
        with self.lock:
            at = bisect.bisect_right(self.ends, index)
            return self.arrivals[at] if at < len(self.arrivals) else float("nan")

    def samples(self, begin=0, end=None):
        """A copy of what has arrived, from begin to end."""
        with self.lock:
            return self.data[begin:self.count if end is None else min(end, self.count)].copy()

    def onset(self, mark=0, threshold=None):
        """The index of the first sample from mark on that is heard (above
        the threshold, silence's unless said), or None. Only what came
        after mark is looked at: the reader waits while it is copied."""
        import audio
        found = audio.onset(self.samples(mark), 0, threshold or audio.SILENCE)
        return None if found is None else mark + found

    def wait_for_frames(self, index, what):
        wait_for(lambda: self.frames() >= index, what)

    def _end_parec(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait(timeout=30)
        self.reader.join(timeout=30)

    def stop(self):
        self._end_parec()
        self.file.close()
