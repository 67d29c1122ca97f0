#!/usr/bin/env python3
"""Fills a folder with one made-up image per visible image kind, of sizes the
window accepts, so a newcomer can try every flow against the simulated
receiver. The software images carry version records, so the window's
"[ Image ]" row shows their texts.

    make-demo-folder.py FOLDER

Prints the name of the image the simulated receiver should serve for a
read-back. The contents are a repeatable pattern, never real firmware.
"""
import pathlib
import sys

KB = 1024

# Where a software image keeps its version records, by file length: the
# window reads the primary record and falls back on the second.
RECORD_POSITIONS = {1024 * KB: (913_328, 917_296), 2048 * KB: (1_761_200, 1_892_272)}
SOFTWARE_FIELD = (12, 16)  # offset, length; the last byte always reads as zero
HARDWARE_FIELD = (28, 8)

# name, length, (software text, hardware text) or None
IMAGES = [
    ("fdd_default_data.bin", 64 * KB, None),
    ("ucd_user_data.bin", 176 * KB, None),
    ("software_2.42.bin", 2048 * KB, ("SW 2.42 DEMO", "HW-DEMO")),
    ("combined_2.42.bin", 1024 * KB, ("SW 2.42 COMBI", "HW-DEMO")),
    ("loader_2.42.bin", 2048 * KB, ("SW 2.42 LOADER", "HW-DEMO")),
    ("chip_ca.bin", 40_000, None),
]
READ_BACK_SOURCE = "fdd_default_data.bin"


def field(text, length):
    """A version field: 0xFF fill before the text, a zero after it."""
    raw = text.encode("ascii")
    if len(raw) > length - 1:
        raise ValueError(f"version text {text!r} longer than {length - 1} characters")
    return b"\xff" * (length - 1 - len(raw)) + raw + b"\x00"


def pattern(length, seed):
    unit = bytes((i * 7 + seed * 31) & 0xFF for i in range(251))
    return bytearray((unit * (length // len(unit) + 1))[:length])


def make_image(length, seed, versions):
    data = pattern(length, seed)
    if versions:
        software, hardware = versions
        primary, _ = RECORD_POSITIONS[length]
        for (offset, size), text in ((SOFTWARE_FIELD, software), (HARDWARE_FIELD, hardware)):
            data[primary + offset:primary + offset + size] = field(text, size)
    return bytes(data)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    folder = pathlib.Path(sys.argv[1])
    folder.mkdir(parents=True, exist_ok=True)
    for seed, (name, length, versions) in enumerate(IMAGES, start=1):
        (folder / name).write_bytes(make_image(length, seed, versions))
    print(READ_BACK_SOURCE)


if __name__ == "__main__":
    main()
