#!/usr/bin/python3
"""What Orca says as the keyboard moves through Strellan: the Linux program
on a private Xvfb, D-Bus session and accessibility bus (as the
accessibility test makes them), a PulseAudio null sink for Speech
Dispatcher's dummy voice, and Orca writing what it speaks to its debug
file. Prints Orca's speech, one line each.

Not part of make test: it needs orca and speech-dispatcher, which the
project does not install (apt-get install --no-install-recommends orca).

    STRELLAN_BUILD_DIR=build/linux python3 tests/e2e/orca_speech.py [--position] [KEY ...]

KEYs are xdotool key names, Tab Tab Tab Right Right Tab unless given. With
--position, Orca speaks a control's position in its set ("3 of 8"), as its
preference of that name does; it is off by default.
"""

import json
import os
import subprocess
import unittest
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.abspath(os.environ.get("STRELLAN_BUILD_DIR", "build/linux"))
os.environ.update(STRELLAN_BUILD_DIR=BUILD, STRELLAN_RES=os.path.join(BUILD, "strellan.res"))

import harness  # noqa: E402
import test_accessibility as bus  # noqa: E402

KEY_PAUSE = 1.5  # Orca speaks within this; its speech is read afterwards
ORCA_START = 8


def speak_position():
    """Orca's own settings file, in the private home, with "speak position
    in set" on."""
    folder = os.path.join(os.environ["HOME"], ".local", "share", "orca")
    os.makedirs(folder, exist_ok=True)
    on = {"enablePositionSpeaking": True}
    with open(os.path.join(folder, "user-settings.conf"), "w") as f:
        json.dump({"general": dict(on), "pronunciations": {}, "keybindings": {},
                   "profiles": {"default": dict(on, profile=["Default", "default"])}}, f)


def main(keys, position):
    out = os.path.join(BUILD, "e2e", "orca")
    os.makedirs(out, exist_ok=True)
    debug = os.path.join(out, "orca.debug")
    bus.setUpModule()
    if position:
        speak_position()
    procs = []

    def start(argv, name):
        with open(os.path.join(out, name), "w") as log:
            procs.append(subprocess.Popen(argv, stdout=log, stderr=subprocess.STDOUT))

    try:
        start(["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
               "--load=module-null-sink", "--load=module-native-protocol-unix"], "pulseaudio.out")
        time.sleep(2)
        start(["speech-dispatcher", "-s", "-t", "0"], "speechd.out")
        start([os.path.join(BUILD, "strellan")], "strellan.out")
        window = harness.wait_for(lambda: bus.x_server.find_windows("Strellan"),
                                  "the Strellan window", timeout=20)[0]
        start(["orca", "--replace", "--debug-file=" + debug], "orca.out")
        # Orca writes its debug file when it ends, so its start cannot be
        # watched there: give it time.
        time.sleep(ORCA_START)
        bus.x_server.focus(window)
        time.sleep(KEY_PAUSE)
        for key in keys:
            bus.x_server.key(key)
            time.sleep(KEY_PAUSE)
        time.sleep(KEY_PAUSE)
    finally:
        for proc in reversed(procs):
            proc.terminate()
            try:
                proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                proc.kill()  # Orca does not always end on SIGTERM
                proc.wait()
        unittest.case.doModuleCleanups()
    with open(debug, errors="replace") as f:
        for line in f:
            if "SPEECH OUTPUT:" in line:
                print(line.split("SPEECH OUTPUT:", 1)[1].split("{")[0].strip())


if __name__ == "__main__":
    args = sys.argv[1:]
    position = "--position" in args
    keys = [a for a in args if a != "--position"]
    main(keys or ["Tab", "Tab", "Tab", "Right", "Right", "Tab"], position)
