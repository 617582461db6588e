"""The window's layout and the strings, read from the program itself rather
than typed out again: the dialog template from the compiled resources (the
.res that the Linux build embeds, or strellan.exe's own), and the table of
reference strings from the program's source, where both builds take it.
"""

import os
import re
import struct
import subprocess
from dataclasses import dataclass

RT_DIALOG = 5
IDD_TUNER = 1000
PUSH_BUTTON_TYPES = (0, 1)  # BS_PUSHBUTTON, BS_DEFPUSHBUTTON
BS_TYPEMASK = 0xF


@dataclass
class Control:
    class_name: str
    id: int
    text: str
    x: int
    y: int
    cx: int
    cy: int
    style: int

    def centre(self):
        return (self.x + self.cx / 2, self.y + self.cy / 2)


@dataclass
class Template:
    cx: int
    cy: int
    controls: list

    def control(self, id_):
        [found] = [c for c in self.controls if c.id == id_]
        return found

    def push_button(self, text):
        [found] = [c for c in self.controls
                   if c.class_name == "Button" and c.style & BS_TYPEMASK in PUSH_BUTTON_TYPES
                   and c.text == text]
        return found


@dataclass
class ReferenceString:
    control_id: int
    label: str
    note: int
    velocity: int
    note_on: int

    @property
    def pitch(self):
        """The pitch's name, with note 60 as C4: "F#1" for note 30."""
        names = ["C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"]
        return f"{names[self.note % 12]}{self.note // 12 - 1}"


class _Reader:
    def __init__(self, data, pos=0):
        self.data, self.pos = data, pos

    def unpack(self, fmt):
        values = struct.unpack_from("<" + fmt, self.data, self.pos)
        self.pos += struct.calcsize("<" + fmt)
        return values if len(values) > 1 else values[0]

    def string(self):
        end = self.pos
        while self.data[end:end + 2] != b"\0\0":
            end += 2
        text = self.data[self.pos:end].decode("utf-16-le")
        self.pos = end + 2
        return text

    def name_or_ordinal(self):
        if self.data[self.pos:self.pos + 2] == b"\xff\xff":
            self.pos += 2
            return self.unpack("H")
        return self.string()

    def align4(self):
        self.pos = (self.pos + 3) & ~3


def res_entry(data, type_, name):
    """The data of one entry of a .res file."""
    r = _Reader(data)
    while r.pos < len(data):
        start = r.pos
        size, header = r.unpack("II")
        t, n = r.name_or_ordinal(), r.name_or_ordinal()
        if (t, n) == (type_, name):
            return data[start + header:start + header + size]
        r.pos = start + header + size
        r.align4()
    raise LookupError(f"no resource {type_}/{name}")


def exe_resource(exe, type_, name):
    """The data of one resource of a Windows executable."""
    return subprocess.run(["wrestool", "-x", "--raw", f"--type={type_}", f"--name={name}", exe],
                          check=True, capture_output=True, timeout=60).stdout


CLASSES = {0x80: "Button", 0x81: "Edit", 0x82: "Static"}


def parse_template(data):
    """A DLGTEMPLATEEX: its size and its controls."""
    r = _Reader(data)
    version, signature = r.unpack("HH")
    assert (version, signature) == (1, 0xFFFF), "not an extended dialog template"
    _help, _ex, style, count, _x, _y, cx, cy = r.unpack("IIIHhhhh")
    r.name_or_ordinal()  # menu
    r.name_or_ordinal()  # class
    r.string()           # title
    if style & 0x40:     # DS_SETFONT
        r.unpack("HHBB")
        r.string()
    controls = []
    for _ in range(count):
        r.align4()
        _help, _ex, item_style, x, y, w, h, id_ = r.unpack("IIIhhhhi")
        cls = r.name_or_ordinal()
        text = r.name_or_ordinal()
        extra = r.unpack("H")  # creation data
        r.pos += extra
        controls.append(Control(CLASSES.get(cls, cls) if isinstance(cls, int) else cls.title(),
                                id_, text if isinstance(text, str) else f"#{text}",
                                x, y, w, h, item_style))
    return Template(cx, cy, controls)


def template_from_res(res_path):
    with open(res_path, "rb") as f:
        return parse_template(res_entry(f.read(), RT_DIALOG, IDD_TUNER))


def template_from_exe(exe):
    return parse_template(exe_resource(exe, RT_DIALOG, IDD_TUNER))


def _source(*parts):
    root = os.environ.get("STRELLAN_SOURCE_DIR") or os.path.join(os.path.dirname(__file__),
                                                                  "..", "..")
    with open(os.path.join(root, *parts)) as f:
        return f.read()


def reference_strings():
    """REFERENCE_STRINGS as core/reference_strings.h has it, in order, with
    the control IDs of resources/resource.h."""
    ids = {name: int(value) for name, value in
           re.findall(r"#define\s+(IDC_\w+)\s+(\d+)", _source("resources", "resource.h"))}
    table = _source("core", "reference_strings.h")
    body = table[table.index("REFERENCE_STRINGS[] = {"):]
    body = body[:body.index("};")]
    rows = re.findall(r'\{(IDC_\w+),\s*"([^"]*)",\s*(\d+),\s*(\d+),\s*(0x[0-9A-Fa-f]+)\}', body)
    assert len(rows) == 8, f"read {len(rows)} reference strings"
    return [ReferenceString(ids[i], label, int(note), int(vel), int(word, 16))
            for i, label, note, vel, word in rows]
