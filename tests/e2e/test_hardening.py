"""The Linux program as built: hardened as Debian hardens its packages,
read off the binary with readelf."""

import glob
import os
import subprocess
import unittest

LINUX = os.environ.get("STRELLAN_LINUX", "")
BUILD = os.environ.get("STRELLAN_BUILD_DIR", "")
CET = "x86 feature: IBT, SHSTK"


def readelf(*args, path=None):
    return subprocess.run(["readelf", "--wide", *args, path or LINUX], check=True,
                          capture_output=True, text=True, timeout=60).stdout


def c_runtime_start_file():
    out = subprocess.run(["gcc", "-print-file-name=Scrt1.o"], capture_output=True, text=True)
    return out.stdout.strip()


class Hardened(unittest.TestCase):
    def test_position_independent(self):
        self.assertIn("Type:                              DYN", readelf("--file-header"))
        self.assertRegex(readelf("--dynamic"), r"FLAGS_1.*\bPIE\b")

    def test_full_relro_with_immediate_binding(self):
        self.assertIn("GNU_RELRO", readelf("--program-headers"))
        self.assertRegex(readelf("--dynamic"), r"\(FLAGS\).*\bBIND_NOW\b|FLAGS_1.*\bNOW\b")

    def test_stack_does_not_execute(self):
        [stack] = [line for line in readelf("--program-headers").splitlines()
                   if "GNU_STACK" in line]
        self.assertEqual(stack.split()[-2], "RW", stack)

    def test_stack_protector_and_fortified_calls(self):
        symbols = readelf("--dyn-syms")
        self.assertIn("__stack_chk_fail", symbols)
        fortified = {word.split("@")[0] for word in symbols.split() if word.startswith("__")
                     and word.split("@")[0].endswith("_chk")}
        self.assertTrue(fortified - {"__stack_chk_fail"}, "no fortified call")

    def test_every_object_of_ours_is_cet_ready(self):
        # The program's own code, the stand-in's three libraries, main().
        objects = []
        for target in ["CMakeFiles/strellan_program.dir", "CMakeFiles/strellan.dir",
                       "platform/linux/res", "platform/linux/user32", "platform/linux/winmm"]:
            found = glob.glob(os.path.join(BUILD, target, "**", "*.o"), recursive=True)
            self.assertTrue(found, f"no object in {target}")
            objects += found
        for o in objects:
            self.assertIn(CET, readelf("--notes", path=o), o)

    def test_cet_marked_where_the_c_runtime_is(self):
        # The linker marks the program only when every object is marked, the
        # C runtime's start files among them; Debian 12's are not.
        start = c_runtime_start_file()
        if CET not in readelf("--notes", path=start):
            self.skipTest(f"{start} is not CET-marked, so no program linked with it is")
        self.assertIn(CET, readelf("--notes"))


if __name__ == "__main__":
    unittest.main()
