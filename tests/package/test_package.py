"""The packages as users get them: the .deb read with Debian's own tools
(dpkg-deb, lintian, desktop-file-validate, appstreamcli) and installed with
apt into a fresh Debian root, 12 "bookworm" or 13 "trixie" as
STRELLAN_DEBIAN_RELEASE says, where the installed Strellan must start and
end through Exit; and the Windows zip.

Reads what `make package` built: build/release/strellan_*.deb and
build/windows-x86/strellan-*-windows-x86.zip.
"""

import fcntl
import glob
import gzip
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import urllib.request
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "e2e"))
import harness  # noqa: E402

BUILD = os.environ["STRELLAN_BUILD_DIR"]
SOURCE = os.environ["STRELLAN_SOURCE_DIR"]
VERSION = os.environ["STRELLAN_VERSION"]
APP_ID = os.environ["STRELLAN_APP_ID"]
WINDOWS_BUILD = os.environ["STRELLAN_WINDOWS_BUILD_DIR"]

# Every file the package holds, and nothing else (no test, no static
# library, no header).
DEB_FILES = {
    "usr/bin/strellan",
    f"usr/share/applications/{APP_ID}.desktop",
    f"usr/share/metainfo/{APP_ID}.metainfo.xml",
    f"usr/share/icons/hicolor/16x16/apps/{APP_ID}.png",
    f"usr/share/icons/hicolor/32x32/apps/{APP_ID}.png",
    f"usr/share/icons/hicolor/48x48/apps/{APP_ID}.png",
    f"usr/share/icons/hicolor/scalable/apps/{APP_ID}.svg",
    "usr/share/man/man1/strellan.1.gz",
    "usr/share/doc/strellan/copyright",
    "usr/share/doc/strellan/changelog.gz",
}

# Packages the program cannot do without that dpkg-shlibdeps must have
# found, and those we add by hand: the SoundFont and aubio (opened with
# dlopen when the pitch is measured).
DEB_DEPENDS = ["libc6", "libx11-6", "libxft2", "libfontconfig1", "libatk1.0-0",
               "libfluidsynth3", "libpulse0", "libasound2", "libglib2.0-0", "libstdc++6",
               "timgm6mb-soundfont", "libaubio5"]

# lintian's warnings that we leave, each with its reason. None today; one
# not listed here fails the test, so that a new one is read and explained.
LINTIAN_WARNINGS_EXPLAINED = {}


def run(*argv, **kwargs):
    kwargs.setdefault("timeout", 600)
    return subprocess.run(argv, check=True, capture_output=True, text=True, **kwargs)


def the_one(pattern):
    found = glob.glob(pattern)
    if len(found) != 1:
        raise AssertionError(f"expected one {pattern}, found {found or 'none'}: run make package")
    return found[0]


def licence_text():
    with open(os.path.join(SOURCE, "LICENSE")) as f:
        return f.read().strip()


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    assert head[:8] == b"\x89PNG\r\n\x1a\n", f"{path} is not a PNG"
    return struct.unpack(">II", head[16:24])


class DebPackage(unittest.TestCase):
    """The .deb's control fields, its files, lintian's verdict, and the
    files that desktops read, each through the validator made for it."""

    @classmethod
    def setUpClass(cls):
        cls.deb = the_one(os.path.join(BUILD, f"strellan_{VERSION}_*.deb"))
        cls.root = tempfile.mkdtemp(prefix="strellan-deb-")
        run("dpkg-deb", "-x", cls.deb, cls.root)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.root, ignore_errors=True)

    def path(self, name):
        return os.path.join(self.root, name)

    def field(self, name):
        return run("dpkg-deb", "-f", self.deb, name).stdout.strip()

    def test_control_fields(self):
        for name, expected in [("Package", "strellan"), ("Version", VERSION),
                               ("Architecture", run("dpkg", "--print-architecture").stdout.strip()),
                               ("Section", "sound")]:
            with self.subTest(field=name):
                self.assertEqual(self.field(name), expected)
        depends = [d.strip().split()[0] for d in self.field("Depends").split(",")]
        for package in DEB_DEPENDS:
            with self.subTest(depends=package):
                self.assertIn(package, depends)
        self.assertIn("libatk-bridge2.0-0", self.field("Recommends"))

    def test_files(self):
        listing = run("dpkg-deb", "-c", self.deb).stdout.splitlines()
        files = {line.split()[-1].removeprefix("./") for line in listing
                 if not line.startswith("d")}
        self.assertEqual(files, DEB_FILES)
        for line in listing:
            mode, owner = line.split()[:2]
            with self.subTest(line=line):
                self.assertEqual(owner, "root/root")
                self.assertIn(mode, ("drwxr-xr-x", "-rwxr-xr-x" if "/bin/" in line else "-rw-r--r--"))

    def test_lintian(self):
        result = subprocess.run(["lintian", "--tag-display-limit", "0", "--fail-on", "error",
                                 self.deb], capture_output=True, text=True, timeout=600)
        print(result.stdout, end="")
        self.assertEqual(result.returncode, 0, "lintian found errors:\n" + result.stdout)
        warnings = {m.group(1) for m in re.finditer(r"^W: strellan: (\S+)", result.stdout, re.M)}
        self.assertEqual(warnings - set(LINTIAN_WARNINGS_EXPLAINED), set(),
                         "lintian warns of something new: mend it or explain it")

    def test_the_program_is_stripped_and_hardened(self):
        info = run("file", "-L", self.path("usr/bin/strellan")).stdout
        self.assertIn("stripped", info)
        self.assertNotIn("not stripped", info)
        self.assertIn("pie executable", info)

    def test_desktop_entry(self):
        path = self.path(f"usr/share/applications/{APP_ID}.desktop")
        result = subprocess.run(["desktop-file-validate", path], capture_output=True, text=True)
        self.assertEqual((result.returncode, result.stdout + result.stderr), (0, ""))
        with open(path) as f:
            entry = dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)
        self.assertEqual(entry["Name"], "Strellan")
        self.assertEqual(entry["Exec"], "strellan")
        self.assertEqual(entry["Icon"], APP_ID)
        self.assertTrue({"AudioVideo", "Audio", "Music"} <= set(entry["Categories"].split(";")))
        self.assertTrue({"tuner", "guitar", "tuning"} <= set(entry["Keywords"].split(";")))

    def test_metainfo(self):
        path = self.path(f"usr/share/metainfo/{APP_ID}.metainfo.xml")
        result = subprocess.run(["appstreamcli", "validate", "--no-net", path],
                                capture_output=True, text=True, timeout=120)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        with open(path) as f:
            text = f.read()
        self.assertIn(f'<release version="{VERSION}"', text)
        self.assertIn(f"<launchable type=\"desktop-id\">{APP_ID}.desktop</launchable>", text)
        self.assertRegex(text, r"<screenshot type=\"default\">\s*<caption>[^<]+</caption>\s*"
                               r"<image>https://[^<]+\.png</image>")

    def test_icons_are_the_programs_icon_at_every_size(self):
        for size in (16, 32, 48):
            with self.subTest(size=size):
                self.assertEqual(png_size(self.path(
                    f"usr/share/icons/hicolor/{size}x{size}/apps/{APP_ID}.png")), (size, size))
        # The scalable icon, drawn by the desktop's own SVG renderer, is the
        # 48-pixel one: both come from the same shapes.
        drawn = os.path.join(self.root, "svg-48.png")
        run("rsvg-convert", "-w", "48", "-h", "48", "-o", drawn,
            self.path(f"usr/share/icons/hicolor/scalable/apps/{APP_ID}.svg"))
        compare = subprocess.run(
            ["compare", "-metric", "MAE", drawn,
             self.path(f"usr/share/icons/hicolor/48x48/apps/{APP_ID}.png"), "null:"],
            capture_output=True, text=True, timeout=60)
        mean_error = float(re.search(r"\(([\d.e-]+)\)", compare.stderr).group(1))
        self.assertLess(mean_error, 0.01, "the SVG icon and the PNG icon differ")

    def test_the_programs_icon_is_what_its_source_draws(self):
        drawn = os.path.join(self.root, "strellan.ico")
        run(sys.executable, os.path.join(SOURCE, "resources", "icon", "make_icon.py"), "ico", drawn)
        with open(drawn, "rb") as a, open(os.path.join(SOURCE, "resources", "strellan.ico"),
                                          "rb") as b:
            self.assertEqual(a.read(), b.read(),
                             "resources/strellan.ico is not what make_icon.py draws: regenerate it")

    def test_manual_page(self):
        with gzip.open(self.path("usr/share/man/man1/strellan.1.gz"), "rt") as f:
            source = f.read()
        self.assertIn(f'"Strellan {VERSION}"', source)
        result = subprocess.run(["groff", "-man", "-Tutf8", "-ww", "-z"], input=source,
                                capture_output=True, text=True, timeout=60)
        self.assertEqual((result.returncode, result.stderr), (0, ""))

    def test_copyright_and_changelog(self):
        with open(self.path("usr/share/doc/strellan/copyright")) as f:
            copyright = f.read()
        self.assertTrue(copyright.startswith(
            "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/"))
        body = copyright[copyright.index("\nLicense: MIT\n ") + len("\nLicense: MIT\n"):]
        lines = ["" if line == " ." else line.removeprefix(" ") for line in body.splitlines()]
        self.assertEqual("\n".join(lines).strip(), licence_text())
        with gzip.open(self.path("usr/share/doc/strellan/changelog.gz"), "rt") as f:
            self.assertTrue(f.readline().startswith(f"strellan ({VERSION}) "))


RELEASE = os.environ.get("STRELLAN_DEBIAN_RELEASE", "bookworm")
NUMBER = {"bookworm": 12, "trixie": 13}[RELEASE]


def debian_archive():
    """The Debian archive that this machine's apt uses: its URI, and its
    suites for RELEASE (this machine's bookworm suites, renamed when the
    root is of another release)."""
    entries = []
    for path in glob.glob("/etc/apt/sources.list.d/*.sources"):
        with open(path) as f:
            for stanza in f.read().split("\n\n"):
                fields = dict(re.findall(r"^(\w[\w-]*):\s*(.*)$", stanza, re.M))
                if "deb" in fields.get("Types", "").split():
                    for uri in fields.get("URIs", "").split():
                        entries.append((uri, fields.get("Suites", "").split()))
    for path in ["/etc/apt/sources.list"] + glob.glob("/etc/apt/sources.list.d/*.list"):
        try:
            with open(path) as f:
                for line in f:
                    m = re.match(r"^deb\s+(?:\[[^]]*\]\s+)?(\S+)\s+(\S+)", line)
                    if m:
                        entries.append((m.group(1), [m.group(2)]))
        except FileNotFoundError:
            pass
    lines = []
    mirror = None
    for uri, suites in entries:
        for suite in suites:
            if suite.startswith("bookworm"):
                suite = RELEASE + suite[len("bookworm"):]
                lines.append(f"deb {uri} {suite} main")
                if suite == RELEASE:
                    mirror = uri
    return mirror, lines


def in_root(root, command, x_socket_dir=None):
    """argv running command (a shell line) chrooted in root, in a mount
    namespace of its own: /dev, /proc and the X server's sockets are
    mounted for it and go with it."""
    mounts = [f"mount --bind /dev {root}/dev", f"mount -t proc proc {root}/proc"]
    if x_socket_dir:
        mounts.append(f"mkdir -p {root}/tmp/.X11-unix && mount --bind {x_socket_dir} "
                      f"{root}/tmp/.X11-unix")
    script = " && ".join(mounts + [f"exec chroot {root} /bin/sh -c \"$0\""])
    return ["unshare", "--mount", "--propagation", "private", "sh", "-c", script, command]


def base_root():
    """RELEASE's minimal root, made once with debootstrap from the archive
    that this machine's apt uses and shared by the tests that need one
    (each works in a copy); None, with the reason, when it cannot be made."""
    mirror, sources = debian_archive()
    if not mirror:
        return None, "this machine's apt uses no Debian bookworm archive to name a mirror"
    base = os.path.join(BUILD, "package-test", f"base-{RELEASE}")
    done = base + ".done"
    os.makedirs(os.path.dirname(base), exist_ok=True)
    with open(base + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)  # one debootstrap, whoever comes first
        if os.path.exists(done):
            return base, None
        try:
            urllib.request.urlopen(f"{mirror.rstrip('/')}/dists/{RELEASE}/InRelease",
                                   timeout=20).close()
        except OSError as e:
            return None, f"the Debian archive {mirror} cannot be reached ({e})"
        shutil.rmtree(base, ignore_errors=True)
        run("debootstrap", "--variant=minbase", RELEASE, base, mirror, timeout=1200)
        with open(os.path.join(base, "etc/apt/sources.list"), "w") as f:
            f.write("\n".join(sources) + "\n")
        open(done, "w").close()
    return base, None


class FreshDebian(unittest.TestCase):
    """A fresh Debian root of RELEASE, a copy of the shared base under the
    build tree; and an Xvfb whose sockets the root shares. Skipped, saying
    so, when the archive cannot be reached."""

    NAME = None  # the root's folder under build/release/package-test

    def setUp(self):
        base, why = base_root()
        if not base:
            self.skipTest(f"{why}: nothing to make a Debian {NUMBER} root from")
        self.root = os.path.join(BUILD, "package-test", f"{self.NAME}-{RELEASE}")
        self.x = None
        shutil.rmtree(self.root, ignore_errors=True)
        run("cp", "-a", base, self.root)
        shutil.copy("/etc/resolv.conf", os.path.join(self.root, "etc/resolv.conf"))

    def tearDown(self):
        if self.x:
            self.x.stop()
        if hasattr(self, "root"):
            shutil.rmtree(self.root, ignore_errors=True)

    def in_root(self, command, timeout=1500):
        """Runs a shell line in the root; its output, or a failure with it."""
        done = subprocess.run(in_root(self.root, command), capture_output=True, text=True,
                              timeout=timeout)
        self.assertEqual(done.returncode, 0,
                         f"{command}:\n{done.stdout[-4000:]}\n{done.stderr[-4000:]}")
        return done.stdout

    def run_strellan(self, command, test_id, start_timeout=harness.START_TIMEOUT):
        """Starts command in the root on a new Xvfb, waits for the window,
        clicks Exit and checks that it ended with 0. What it said on
        stderr."""
        self.x = harness.XServer().start()
        where = harness.program_layout()
        stderr_path = os.path.join(os.path.dirname(self.root), f"{test_id}.stderr")

        def launch(_folder, stdout_path, _env):
            with open(stdout_path, "wb") as out, open(stderr_path, "wb") as err:
                return subprocess.Popen(
                    in_root(self.root, f"exec env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin "
                                       f"HOME=/root DISPLAY={self.x.name} {command}",
                            "/tmp/.X11-unix"),
                    stdin=subprocess.DEVNULL, stdout=out, stderr=err)

        strellan = harness.Run(self.x, where, test_id, launch, log=False,
                               start_timeout=start_timeout)
        try:
            strellan.click("Exit")
            self.assertEqual(strellan.wait_exit(), 0, strellan.stdout()[-4000:])
        finally:
            strellan.kill()
        with open(stderr_path) as f:
            return f.read()


class DebInstall(FreshDebian):
    """The .deb installed with apt into a fresh Debian root, as a user
    installs it; the installed Strellan then starts under Xvfb and ends
    with code 0 through Exit."""

    NAME = "install-root"

    def test_install_and_run(self):
        deb = the_one(os.path.join(BUILD, f"strellan_{VERSION}_*.deb"))
        shutil.copy(deb, os.path.join(self.root, "tmp"))
        self.in_root("apt-get update -q && DEBIAN_FRONTEND=noninteractive "
                     f"apt-get install -y -q /tmp/{os.path.basename(deb)}")

        # Everything the program links against came with it, and so did
        # what it opens: the SoundFont and aubio.
        self.assertNotIn("not found", self.in_root("ldd /usr/bin/strellan"))
        for path in ["usr/share/sounds/sf2/TimGM6mb.sf2", "usr/lib/x86_64-linux-gnu/libaubio.so.5"]:
            with self.subTest(path=path):
                self.assertTrue(os.path.exists(os.path.join(self.root, path)), path)

        # A fresh root has no sound server and no sound card: one line says
        # so, and nothing else is said.
        said = self.run_strellan("strellan", "installed")
        print("the installed Strellan said:\n" + said)
        self.assertEqual(said.splitlines(), ["strellan: no audio output (PulseAudio or ALSA)"])


def install_set(name):
    return set(run(os.path.join(SOURCE, "scripts", "install-deps.sh"), "--print",
                   name).stdout.split())


class MakeRun(FreshDebian):
    """`make run` in a copy of the source on a fresh Debian root: it
    installs the run set and nothing of the test set, builds, and starts a
    Strellan that ends with 0 through Exit. Debian 13's libfluidsynth-dev
    brings the fluidsynth program with it: there, and only as that
    package's dependency, it may come, kept from starting at login."""

    NAME = "make-run-root"

    def test_make_run_installs_only_the_run_set(self):
        files = run("git", "-C", SOURCE, "ls-files", "-z", "--cached", "--others",
                    "--exclude-standard").stdout.split("\0")
        for name in filter(None, files):
            source = os.path.join(SOURCE, name)
            if os.path.isfile(source):
                target = os.path.join(self.root, "src", name)
                os.makedirs(os.path.dirname(target), exist_ok=True)
                shutil.copy2(source, target)
        # Only make is there first, as on a machine where it is the one tool
        # the README asks for.
        self.in_root("apt-get update -q && DEBIAN_FRONTEND=noninteractive "
                     "apt-get install -y -q --no-install-recommends make")

        said = self.run_strellan("make -C /src run", "make-run", start_timeout=1800)
        print("make run said on stderr:\n" + said[-2000:])

        installed = set(self.in_root(
            "dpkg-query -W -f '${Package}:${Architecture} ${Status}\\n'").splitlines())
        installed = {line.split()[0].split(":")[0] for line in installed
                     if line.endswith(" installed")}
        run_set = install_set("run")
        self.assertEqual(run_set - installed, set(), "the run set was not installed")
        test_only = {p.split(":")[0] for p in install_set("test") - install_set("package")}
        needed = set(self.in_root("apt-cache depends --no-recommends --no-suggests "
                                  "libfluidsynth-dev").split())
        self.assertEqual(test_only & installed - needed, set(), "make run installed test tools")
        if "fluidsynth" in installed:
            wants = os.path.join(self.root, "etc/systemd/user/default.target.wants")
            self.assertFalse(os.path.exists(os.path.join(wants, "fluidsynth.service")),
                             "the fluidsynth server would start at every login")
        self.assertEqual(self.in_root("dpkg --print-foreign-architectures").split(), [])


class WindowsZip(unittest.TestCase):
    """The zip: strellan.exe as built, a README and the licence, as Windows
    text files, in one folder named after the release."""

    def test_contents(self):
        path = the_one(os.path.join(WINDOWS_BUILD, f"strellan-{VERSION}-windows-x86.zip"))
        folder = f"strellan-{VERSION}-windows-x86/"
        with zipfile.ZipFile(path) as z:
            files = {n.removeprefix(folder): n for n in z.namelist() if not n.endswith("/")}
            self.assertEqual(set(files), {"strellan.exe", "README.txt", "LICENSE.txt"})
            with open(os.path.join(WINDOWS_BUILD, "strellan.exe"), "rb") as f:
                self.assertEqual(z.read(files["strellan.exe"]), f.read())
            readme = z.read(files["README.txt"]).decode("ascii")
            licence = z.read(files["LICENSE.txt"]).decode("ascii")
        for name, text in [("README.txt", readme), ("LICENSE.txt", licence)]:
            with self.subTest(file=name):
                self.assertNotRegex(text, r"[^\r]\n", "not a Windows text file")
        self.assertTrue(readme.startswith(f"Strellan {VERSION}\r\n"))
        self.assertEqual(licence.replace("\r\n", "\n").strip(), licence_text())


if __name__ == "__main__":
    unittest.main()
