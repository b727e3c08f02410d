#!/usr/bin/env python3
"""Writes the seed BMP files of the imaging fuzzer: one small picture of every layout
the program meets (24-bit, 8/4/1-bit palettes, 16-bit 5-5-5 and 5-6-5 with masks,
packed YUV, 32-bit, top-down, a gap before the pixels, an 8-bit engine output)."""
import os
import struct

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")


def stride(width, bits):
    return (width * bits + 31) // 32 * 4


def bmp(name, width, height, bits, pixels, table=b"", compression=0, clr_used=0, gap=b"",
        size_image=None):
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, compression,
                       len(pixels) if size_image is None else size_image, 2835, 2835,
                       clr_used, 0)
    offset = 14 + 40 + len(table) + len(gap)
    head = b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset)
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(head + info + table + gap + pixels)


def rows(width, height, bits, pixel):
    out = bytearray()
    for y in range(height):
        row = bytearray()
        for x in range(width):
            row += pixel(x, y)
        row += b"\0" * (stride(width, bits) - len(row))
        out += row
    return bytes(out)


os.makedirs(HERE, exist_ok=True)
bmp("rgb24_5x3.bmp", 5, 3, 24, rows(5, 3, 24, lambda x, y: bytes([x * 50, y * 80, 200 - x * 20])))
bmp("rgb24_zero_size.bmp", 4, 2, 24, rows(4, 2, 24, lambda x, y: bytes([x, y, 9])), size_image=0)
bmp("rgb24_topdown.bmp", 3, -2, 24, rows(3, 2, 24, lambda x, y: bytes([0, x * 90, y * 120])))
bmp("rgb24_gap.bmp", 2, 2, 24, rows(2, 2, 24, lambda x, y: bytes([1, 2, 3])), gap=b"\xEE" * 6)
grey = b"".join(bytes([i, i, i, 0]) for i in range(256))
bmp("pal8_6x2.bmp", 6, 2, 8, rows(6, 2, 8, lambda x, y: bytes([x * 40 + y])), table=grey)
bmp("pal8_used16.bmp", 4, 2, 8, rows(4, 2, 8, lambda x, y: bytes([x + 4 * y])), table=grey[:64],
    clr_used=16)
bmp("pal4_8x2.bmp", 8, 2, 4, bytes([0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF]),
    table=grey[:64])
bmp("pal1_16x2.bmp", 16, 2, 1, bytes([0xAA, 0x55, 0, 0, 0x0F, 0xF0, 0, 0]),
    table=b"\0\0\0\0\xff\xff\xff\0")
bmp("rgb555_3x2.bmp", 3, 2, 16,
    rows(3, 2, 16, lambda x, y: struct.pack("<H", (x * 10) << 10 | (y * 15) << 5 | 7)))
masks = struct.pack("<III", 0xF800, 0x07E0, 0x001F)
bmp("rgb565_masks_3x2.bmp", 3, 2, 16,
    rows(3, 2, 16, lambda x, y: struct.pack("<H", (x * 10) << 11 | (y * 30) << 5 | 9)),
    table=masks, compression=3)
bmp("yuy2_4x2.bmp", 4, 2, 16, bytes([16, 128, 235, 128, 81, 90, 145, 54] * 2),
    compression=0x32595559)
bmp("uyvy_2x2.bmp", 2, 2, 16, bytes([128, 60, 128, 200] * 2), compression=0x59565955)
bmp("bgrx32_2x2.bmp", 2, 2, 32, bytes([1, 2, 3, 0, 250, 128, 5, 0] * 2))
