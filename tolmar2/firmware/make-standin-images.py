#!/usr/bin/env python3
"""Writes the stand-in FPGA images that the virtual sensor's board accepts, one per firmware
file name the library chooses from a unit's options.

Layout (little-endian): magic "VSFPGA\\0\\1", firmware ID (u16), reserved (u16), payload length
(u32), payload, CRC-32 (zlib) of everything before it. The payload is filler of a length that is
no multiple of 64, so that the last configuration chunk is a short one.

Run from this directory: ./make-standin-images.py
"""
import random
import struct
import zlib

# File name, firmware ID reported in the read-back, payload length.
IMAGES = [
    ("QM745.rbf", 0xAC45, 2917),
    ("QM759.rbf", 0xAC59, 3001),
    ("QM759-PLUS.rbf", 0xACE1, 3113),
    ("QM759-plus-B.rbf", 0xACE2, 3209),
    ("QM794-45.rbf", 0xACF1, 3307),
    ("QM794-47.rbf", 0xACF3, 3401),
]


def image(name, firmware_id, length):
    note = ("stand-in FPGA image %s for the virtual sensor board\n" % name).encode()
    rng = random.Random(name)
    payload = note + bytes(rng.randrange(256) for _ in range(length - len(note)))
    body = b"VSFPGA\x00\x01" + struct.pack("<HHI", firmware_id, 0, len(payload)) + payload
    return body + struct.pack("<I", zlib.crc32(body) & 0xFFFFFFFF)


if __name__ == "__main__":
    for name, firmware_id, length in IMAGES:
        with open(name, "wb") as f:
            f.write(image(name, firmware_id, length))
