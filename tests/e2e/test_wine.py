"""End-to-end tests of the real strellan.exe under Wine, on an Xvfb display,
clicked and typed at with xdotool.

With the MIDI recorder (tests/midi_recorder) as winmm.dll in the program's
folder, every MIDI call the program makes is logged and compared with the
expected words in order.
Without it, Wine's own MIDI Mapper has no device to open here, and the
program must print its one line and run on.
"""

import os
import shutil
import struct
import subprocess
import sys
import unittest

import harness
import layout
import scenarios
import storm

EXE = os.environ.get("STRELLAN_EXE", "")
MIDI_RECORDER = os.environ.get("STRELLAN_MIDI_RECORDER", "")
OBJDUMP = os.environ.get("STRELLAN_OBJDUMP", "")

# Under emulation (see scripts/install-deps.sh) a start of strellan.exe
# takes about 5 s, and several times that with both cores busy.
WINE_START_TIMEOUT = float(os.environ.get("STRELLAN_WINE_START_TIMEOUT", "300"))

x_server = None
wine = None
LAYOUT = None


def setUpModule():
    global x_server, wine, LAYOUT
    x_server, LAYOUT = harness.set_up_module(harness.Layout(layout.template_from_exe(EXE)))
    wine = harness.Wine(x_server).ensure_prefix()
    unittest.addModuleCleanup(wine.shutdown)


class UnderWine(unittest.TestCase):
    platform = "wine"

    @property
    def x_server(self):
        return x_server

    def _run(self, with_recorder, open_result=None):
        def launch(folder, stdout_path, env):
            exe = os.path.join(folder, "strellan.exe")
            shutil.copy(EXE, exe)
            overrides = ""
            if with_recorder:
                shutil.copy(MIDI_RECORDER, os.path.join(folder, "winmm.dll"))
                overrides = "winmm=n"
            return wine.start(exe, stdout_path, overrides, env)

        run = harness.Run(x_server, LAYOUT, "wine-" + scenarios.test_id(self), launch,
                          log=with_recorder, open_result=open_result,
                          start_timeout=WINE_START_TIMEOUT)
        self.addCleanup(run.kill)
        return run

    def start(self, open_result=None):
        return self._run(True, open_result)

    def start_without_midi(self):
        return self._run(False)


class TheExecutable(unittest.TestCase):
    """The file itself: what it is and what it needs."""

    def pe(self):
        with open(EXE, "rb") as f:
            return f.read()

    def test_is_a_32_bit_gui_program(self):
        data = self.pe()
        self.assertEqual(data[:2], b"MZ")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        self.assertEqual(data[pe:pe + 4], b"PE\0\0")
        machine = struct.unpack_from("<H", data, pe + 4)[0]
        magic, = struct.unpack_from("<H", data, pe + 24)
        subsystem, = struct.unpack_from("<H", data, pe + 24 + 68)
        self.assertEqual(machine, 0x14C, "i386")
        self.assertEqual(magic, 0x10B, "PE32")
        self.assertEqual(subsystem, 2, "Windows GUI")
        print(f"\nstrellan.exe: {len(data)} bytes", file=sys.stderr)

    def test_is_hardened(self):
        data = self.pe()
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        characteristics, = struct.unpack_from("<H", data, pe + 4 + 18)
        optional = pe + 24
        dll_characteristics, = struct.unpack_from("<H", data, optional + 70)
        self.assertTrue(dll_characteristics & 0x0040, "DYNAMIC_BASE")
        self.assertTrue(dll_characteristics & 0x0100, "NX_COMPAT")
        self.assertFalse(characteristics & 0x0001, "relocations stripped")
        count, = struct.unpack_from("<H", data, pe + 6)
        optional_size, = struct.unpack_from("<H", data, pe + 20)
        sections = {}
        for i in range(count):
            at = optional + optional_size + 40 * i
            name = data[at:at + 8].rstrip(b"\0").decode()
            sections[name] = struct.unpack_from("<I", data, at + 36)[0]
        self.assertIn(".reloc", sections, "relocations kept for a random base")
        for name, flags in sections.items():
            self.assertFalse(flags & 0x80000000 and flags & 0x20000000,
                             f"{name} is both writable and executable")
        # The stack protector's own message, linked in with it.
        self.assertIn(b"stack smashing detected", data)

    def test_imports_only_what_the_program_calls(self):
        out = subprocess.run([OBJDUMP, "-p", EXE], check=True, capture_output=True,
                             text=True, timeout=harness.TOOL_TIMEOUT).stdout
        imports, dll = {}, None
        for line in out.splitlines():
            if "DLL Name:" in line:
                dll = line.split("DLL Name:")[1].strip().lower()
                imports[dll] = set()
            elif dll and line.strip() and line.startswith("\t") and len(line.split()) == 3:
                imports[dll].add(line.split()[2])
            elif not line.strip():
                dll = None if dll and imports[dll] else dll
        self.assertEqual(set(imports), {"kernel32.dll", "msvcrt.dll", "user32.dll", "winmm.dll"})
        self.assertEqual(imports["user32.dll"], {
            "CreateDialogParamA", "ShowWindow", "LoadImageA", "SendMessageA", "CheckDlgButton",
            "IsDlgButtonChecked", "DestroyWindow", "GetMessageA", "IsDialogMessageA",
            "TranslateMessage", "DispatchMessageA"})
        self.assertEqual(imports["winmm.dll"], {"midiOutOpen", "midiOutShortMsg", "midiOutClose"})

    def test_carries_dialog_icon_and_manifest(self):
        out = subprocess.run(["wrestool", "-l", EXE], check=True, capture_output=True,
                             text=True, timeout=harness.TOOL_TIMEOUT).stdout
        kinds = {(line.split("--type=")[1].split()[0], line.split("--name=")[1].split()[0])
                 for line in out.splitlines() if "--type=" in line}
        self.assertIn(("5", "1000"), kinds, out)        # RT_DIALOG IDD_TUNER
        self.assertIn(("14", "132"), kinds, out)        # RT_GROUP_ICON IDI_APP
        self.assertIn(("24", "1"), kinds, out)          # RT_MANIFEST
        self.assertNotIn("16", {t for t, _ in kinds})   # no version resource


class WithRecordingWinmm(scenarios.RecordedScenarios, UnderWine):
    """strellan.exe with the MIDI recorder as winmm.dll in its folder."""


class Storm(UnderWine):
    def test_a_seeded_input_storm(self):
        run = self.start()
        storm.storm_then_exit(self, run, x_server, 30)


class WithWinesOwnMapper(scenarios.NoDeviceScenarios, UnderWine):
    """Wine's own MIDI Mapper, which has no device to open here."""


if __name__ == "__main__":
    unittest.main()
