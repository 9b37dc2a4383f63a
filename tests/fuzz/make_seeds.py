#!/usr/bin/env python3
"""Writes the fuzzers' seed corpora into tests/fuzz/corpus/<target>/.

The seeds are the unit tests' cases in each target's input format: every
family's valid item addresses and the refusals around them, replies scripts
that make every family's read (and write) succeed, and numeric texts. Run it
after changing a target's input format; the files are kept in the repository.
"""
import os
import struct

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")

# Class indices, in the order the server offers the classes.
C5100, C5303, C530X, C5700, C5760 = range(5)


def write(target, name, data):
    folder = os.path.join(ROOT, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as out:
        out.write(data)


# parse_item_fuzz: class, data type (0 float, 1 discrete, 2 zero, 3 -1), text.
FLOAT, DISCRETE, ZERO, MINUS = range(4)
ADDRESSES = {
    C5100: [(FLOAT, a) for a in ["TA5.1.2", "ta5.1.2", "WM127.7.63", "WM128.7.63", "TA5.8.0",
                                 "TA5.0.64", "TA5.1", "TA5", "TX5.1.2", "TA.1.2", "TA1234.1.2",
                                 "TA5..2", "TA5.3.", "TA5.65537.1", "TA5x.1.2", "UB0.0.0"]]
    + [(DISCRETE, "TA5.1.2"), (ZERO, "WB1.2.3")],
    C5303: [(FLOAT, a) for a in ["TA5.0.3", "wb127.2.15", "TA5.3.0", "TA5.0.16", "TA128.0.0",
                                 "TA.0.3", "WA1.1.1"]] + [(MINUS, "TB5.0.3")],
    C530X: [(FLOAT, a) for a in ["TA5.0.3", "WB127.7.63", "TA5.8.0", "TA5.0.64", "wa12.7.0"]],
    C5700: [(DISCRETE, a) for a in ["DI5.3", "do12.0", "DI5", "DI.3", "DI128.0", "DI0127.1",
                                    "DI12345.1", "DO3.8", "DI5.07", "DI5x.3", "DI5."]]
    + [(FLOAT, a) for a in ["TA7.2", "TB3.2", "TA3.0", "WI127.1", "WI3.3", "DI5.3"]],
    C5760: [(FLOAT, a) for a in ["TA12.3.17", "ta5.1.2", "HB0.0.0", "KT127.7.63", "AD5.0.4.2",
                                 "LT5.0.4.9", "AD5.0.4.", "LT5.0.4", "TA5.8.0", "TA128.0.0",
                                 "TA5.0.64", "TA5.0.40", "TA.1.2", "XY5.1.2"]]
    + [(DISCRETE, a) for a in ["DO3.2.10.7", "DI0.0.31.0", "DO3.2.10"]] + [(FLOAT, "DO3.2.10.7")],
}


def parse_item_seeds():
    for cls, addresses in ADDRESSES.items():
        for n, (data_type, text) in enumerate(addresses):
            write("parse_item_fuzz", f"class{cls}-{n:02d}", bytes([cls, data_type]) + text.encode())


# replies_fuzz: class; items of 6 bytes (register + 1, module choice,
# channel, point, sub-index, operation) ended by 0xFF; then the answers, each
# a 2-byte little-endian length, a delay byte (x 10 ms) and the bytes.
MODULE_5 = 1  # index of module 5 in the fuzzer's module choices
READ_FLOAT, READ_BIT = 0x00, 0x01


def write_bit(value):
    return 0x80 | 0x01 | (value << 1)


def item(register, channel, point, sub=0, operation=READ_FLOAT):
    return bytes([register + 1, MODULE_5, channel, point, sub, operation])


def answer(text, delay=0):
    data = text if isinstance(text, bytes) else text.encode("latin-1")
    return struct.pack("<HB", len(data), delay) + data


def point_list(digits, channel, points):
    return answer(b">" + digits + bytes([0x30 + channel, len(points)]) + bytes(points) + b"\r")


def script(cls, items, answers):
    return bytes([cls]) + b"".join(items) + b"\xff" + b"".join(answers)


EARLY = 0x80  # in the class byte: the port in early-reply mode


def write_script(name, data):
    """Writes the script as it is and in early-reply mode."""
    write("replies_fuzz", name, data)
    write("replies_fuzz", name + "-early", bytes([data[0] | EARLY]) + data[1:])


def replies_seeds():
    ta25 = bytes([50, 0, 0, 0])  # TA 25.0 for the sensor families
    scans_5100 = [point_list(b"05", c, [2] if c == 1 else []) for c in range(8)]
    block_5100 = answer(b">051" + bytes([1]) + bytes([50, 0, 100, 0x09]))
    write_script("5100-read-ta-wb-wm",
          script(C5100, [item(1, 1, 2), item(4, 1, 2), item(7, 1, 2)], scans_5100 + [block_5100]))
    write_script("5100-silent-then-answer",
          script(C5100, [item(1, 1, 2)], scans_5100 + [answer(b""), answer(b""), block_5100]))

    summary = answer(b"!05" + b"01" + bytes([1, 0, 0]))
    block_5303 = answer(b">058" + bytes([1]) + ta25)
    write_script("5303-read-ta",
          script(C5303, [item(1, 0, 3), item(2, 0, 3)],
                 [summary, point_list(b"05", 0, [3]), block_5303, block_5303]))

    scans_530x = [point_list(b"05", c, [3] if c == 0 else []) for c in range(8)]
    block_530x = answer(b">058" + bytes([1]) + ta25)
    write_script("530x-read-ta-tb",
          script(C530X, [item(1, 0, 3), item(2, 0, 3)], scans_530x + [block_530x, block_530x]))

    temperatures = answer(b">053," + ta25 + bytes([0x91, 0x01, 0, 0]) + b"\r")
    numerics = answer(b">052,23.45, -1.0\r")
    write_script("5700-read-every-register",
          script(C5700, [item(2, 1, 0), item(3, 2, 0), item(4, 1, 0), item(0, 3, 0, 0, READ_BIT),
                         item(1, 7, 0, 0, READ_BIT)],
                 [temperatures, numerics, answer(b">05\x08\r"), answer(b">05\x80\r")]))
    write_script("5700-write-do",
          script(C5700, [item(1, 7, 0, 0, write_bit(1)), item(1, 0, 0, 0, write_bit(0))],
                 [answer(b"!05\x80\r"), answer(b"!05\x80\r")]))

    scans_5760 = [point_list(b"05", c, [1] if c == 0 else []) for c in range(8)]
    record = bytes([11, 0xFF, 0x43, 0x09])  # sub-channel 2; AD 5.0, TA -25.0625
    write_script("5760-read-ta-ad-di",
          script(C5760, [item(1, 0, 1), item(7, 0, 1, 2), item(5, 0, 1, 3, READ_BIT)],
                 scans_5760 + [answer(b">058" + bytes([1]) + record)]))
    write_script("5760-write-do",
          script(C5760, [item(6, 0, 1, 3, write_bit(1))], [answer(b"!05\r")]))


NUMERIC_TEXTS = ["23.45", "  -1.", "abcde", "-0.00", "+7.50", ".5000", "-.25x", "12345",
                 "\t\n\v\f9", "  -  ", "1e308", "1e309", "-1e-45", "3.4028235e38",
                 "123456789012345678901234567890", "0.000000000000000000000001e-20", "1e",
                 "1e+", "2.5E-3", "9" * 400 + "e-400"]


def numeric_text_seeds():
    for n, text in enumerate(NUMERIC_TEXTS):
        write("numeric_text_fuzz", f"seed{n:02d}", text.encode())
    write("numeric_text_fuzz", "with-nul", b"12\x0034")


TIMEOUT_TEXTS = ["300,early", "150, early ,x", "2000,late,early", "99,early"]


def mode_string_seeds():
    for n, text in enumerate(TIMEOUT_TEXTS):
        write("mode_string_fuzz", f"options{n:02d}", text.encode())


# plant_file_fuzz: 0 for tarvo-poll's reader, 1 for tarvo-gateway's, then the file.
def plant_file_seeds():
    here = os.path.dirname(os.path.abspath(__file__))
    top = os.path.join(here, "..", "..")
    with open(os.path.join(top, "scripts", "builtin_plant.json"), "rb") as f:
        write("plant_file_fuzz", "pxrsim-builtin", b"\x00" + f.read())
    with open(os.path.join(top, "tools", "gateway", "boiler.yaml"), "rb") as f:
        write("plant_file_fuzz", "gateway-boiler", b"\x01" + f.read())
    write("plant_file_fuzz", "poll-yaml", b"\x00# a comment\nclasses:\n  - class: pxr5700\n"
          b"    items: [{item: DI4.0, name: door}]\n    writes: [DO4.2=1]\n")
    write("plant_file_fuzz", "poll-json", b'\x00{"classes": [{"class": "pxr5100", '
          b'"items": [{"item": "TA1.0.0", "unit": "\xc2\xb0C"}]}]}')
    write("plant_file_fuzz", "duplicate", b'\x01{"lines": [], "lines": []}')


# item_address_fuzz: class, RegisterIndex, ModuleAddress, Channel, Point << 4 | SubIndex
# (little-endian int16 each), then the text.
def item_address_seeds():
    cases = [(0, 1, 5, 1, 2 << 4, "TA5.1.2"), (1, 4, 127, 2, 15 << 4, "wb127.2.15"),
             (2, 1, 12, 7, 63 << 4, "TA12.7.63.5"), (3, 0, 4, 0, 0, "DI4.x"),
             (3, 2, 7, 2, 0, "TA7.2"), (4, 4, 5, 0, 4 << 4 | 2, "AD5.0.4.2"),
             (4, 6, 3, 2, 10 << 4 | 7, "DO3.2.10.7"), (4, 1, 123, 1, 2 << 4, "TA1234.1.2"),
             (4, 1, 1, 1, 40 << 4, "TA1.1.40"), (0, 9, 1, 0, 0, "TX1.0.0")]
    for n, (cls, reg, module, channel, point, text) in enumerate(cases):
        data = bytes([cls]) + struct.pack("<hhhh", reg, module, channel, point) + text.encode()
        write("item_address_fuzz", f"seed{n:02d}", data)


# write_payload_fuzz: the payload of a set topic, as it comes.
def write_payload_seeds():
    payloads = [b"1", b"0", b" on\n", b"OFF", b"True", b"false", b"", b"2", b"maybe", b"1; DROP",
                b"\xff\xfe\x00", b"\x00" * 16, b"1" * 65, b"\x1b[2J\x07", "on\u00e9".encode()]
    for n, payload in enumerate(payloads):
        write("write_payload_fuzz", f"seed{n:02d}", payload)


if __name__ == "__main__":
    write_payload_seeds()
    plant_file_seeds()
    item_address_seeds()
    mode_string_seeds()
    parse_item_seeds()
    replies_seeds()
    numeric_text_seeds()
