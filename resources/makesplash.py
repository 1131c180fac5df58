#!/usr/bin/python3
"""Makes the installer window's two pictures and the headers that compile them in.

    resources/splashbackground.png   580 x 54 RGBA: black at alpha 128, transparent rounded corners
    resources/splashanimation.gif    500 x 4, 21 frames of 8/100 s, disposal 1, transparent index 87,
                                     a light-blue highlight sweeping left to right and back, looping
    source/ui/splashpictures.h       both files as constant byte arrays
    source/ui/splashsize.h           the panel's size, which the installer window takes
    tests/ui/splashtestpictures.h  small GIFs the player's tests need

Only the standard library is used and nothing depends on the clock, so running
it again gives the same bytes.  Usage: resources/makesplash.py (from anywhere).
"""
import math
import os
import struct
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

PANEL_W, PANEL_H, PANEL_ALPHA, CORNER = 580, 54, 128, 6
STRIP_W, STRIP_H = 500, 4
FRAMES, DELAY = 21, 8
TRANSPARENT = 87
PALETTE_SIZE = 128
LEVELS = 64  # palette entries 0..63: the track (0) up to the highlight (63)
TRACK = (28, 40, 56)
HIGHLIGHT = (150, 210, 255)
SPOT_W = 100


def png_chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))


def inside_corner(x, y):
    # True for pixels cut away by a corner of radius CORNER.
    cx = CORNER if x < CORNER else PANEL_W - 1 - CORNER if x > PANEL_W - 1 - CORNER else None
    cy = CORNER if y < CORNER else PANEL_H - 1 - CORNER if y > PANEL_H - 1 - CORNER else None
    if cx is None or cy is None:
        return False
    return (x - cx) ** 2 + (y - cy) ** 2 > CORNER * CORNER


def make_png():
    rows = bytearray()
    for y in range(PANEL_H):
        rows.append(0)  # filter: none
        for x in range(PANEL_W):
            rows += bytes((0, 0, 0, 0 if inside_corner(x, y) else PANEL_ALPHA))
    ihdr = struct.pack(">IIBBBBB", PANEL_W, PANEL_H, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", ihdr)
            + png_chunk(b"IDAT", zlib.compress(bytes(rows), 9)) + png_chunk(b"IEND", b""))


def lzw(indices, min_code_size):
    clear = 1 << min_code_size
    end = clear + 1
    out = bytearray()
    acc = nbits = 0

    def emit(code, size):
        nonlocal acc, nbits
        acc |= code << nbits
        nbits += size
        while nbits >= 8:
            out.append(acc & 0xFF)
            acc >>= 8
            nbits -= 8

    def reset():
        return {(i,): i for i in range(clear)}, end + 1, min_code_size + 1

    table, next_code, size = reset()
    emit(clear, size)
    word = ()
    for k in indices:
        longer = word + (k,)
        if longer in table:
            word = longer
            continue
        emit(table[word], size)
        table[longer] = next_code
        # A decoder adds each entry one code later, so it widens after this one.
        if next_code == (1 << size) and size < 12:
            size += 1
        next_code += 1
        if next_code == 4096:
            emit(clear, size)
            table, next_code, size = reset()
        word = (k,)
    if word:
        emit(table[word], size)
    emit(end, size)
    if nbits:
        out.append(acc & 0xFF)
    blocks = bytearray([min_code_size])
    for i in range(0, len(out), 255):
        piece = out[i:i + 255]
        blocks += bytes([len(piece)]) + piece
    return bytes(blocks + b"\x00")


def gif(width, height, palette, frames, background, loop=True):
    """frames: (left, top, w, h, indices, delay, transparent or None), disposal 1 each."""
    bits = max(1, (len(palette) - 1).bit_length())
    table = bytearray()
    for i in range(1 << bits):
        table += bytes(palette[i] if i < len(palette) else (0, 0, 0))
    data = bytearray(b"GIF89a")
    data += struct.pack("<HHBBB", width, height, 0x80 | 0x70 | (bits - 1), background, 0)
    data += table
    if loop:
        data += b"\x21\xff\x0bNETSCAPE2.0\x03\x01\x00\x00\x00"
    for left, top, w, h, indices, delay, transparent in frames:
        flags = (1 << 2) | (1 if transparent is not None else 0)
        data += struct.pack("<BBBBHBB", 0x21, 0xF9, 4, flags, delay, transparent or 0, 0)
        data += struct.pack("<BHHHHB", 0x2C, left, top, w, h, 0)
        data += lzw(indices, max(2, bits))
    return bytes(data + b"\x3b")


def spot_positions():
    # Out in steps of 40 and back in between (380, 340, ..., 20): every frame
    # puts the highlight somewhere else, so a frame is known by where it is.
    step = (STRIP_W - SPOT_W) // 10
    return [step * k for k in range(11)] + [STRIP_W - SPOT_W - step // 2 - step * k for k in range(10)]


def strip_frame(left):
    row_weight = (0.7, 1.0, 1.0, 0.7)
    pixels = []
    for y in range(STRIP_H):
        for x in range(STRIP_W):
            i = x - left
            level = 0
            if 0 <= i < SPOT_W:
                level = round((LEVELS - 1) * row_weight[y] * math.sin(math.pi * (i + 0.5) / SPOT_W) ** 2)
            pixels.append(level)
    return pixels


def make_strip():
    palette = [tuple(round(t + (h - t) * n / (LEVELS - 1)) for t, h in zip(TRACK, HIGHLIGHT))
               for n in range(LEVELS)]
    palette += [(0, 0, 0)] * (PALETTE_SIZE - LEVELS)
    positions = spot_positions()
    full = [strip_frame(p) for p in positions]
    frames = [(0, 0, STRIP_W, STRIP_H, full[0], DELAY, TRANSPARENT)]
    for k in range(1, FRAMES):
        x0 = min(positions[k - 1], positions[k])
        x1 = max(positions[k - 1], positions[k]) + SPOT_W
        indices = []
        for y in range(STRIP_H):
            for x in range(x0, x1):
                now, before = full[k][y * STRIP_W + x], full[k - 1][y * STRIP_W + x]
                indices.append(TRANSPARENT if now == before else now)
        frames.append((x0, 0, x1 - x0, STRIP_H, indices, DELAY, TRANSPARENT))
    return gif(STRIP_W, STRIP_H, palette, frames, TRANSPARENT)


def c_array(name, data):
    lines = [f"static const unsigned char {name}[{len(data)}] = {{"]
    for i in range(0, len(data), 16):
        lines.append("    " + ", ".join(f"0x{b:02x}" for b in data[i:i + 16]) + ",")
    lines.append("};")
    return "\n".join(lines) + "\n"


def write(path, data):
    full = os.path.join(ROOT, path)
    with open(full, "wb") as f:
        f.write(data)
    print(f"{path}: {len(data)} bytes")


def main():
    png, strip = make_png(), make_strip()
    write("resources/splashbackground.png", png)
    write("resources/splashanimation.gif", strip)
    write("source/ui/splashpictures.h", (
        "// Generated by resources/makesplash.py: do not edit.\n// clang-format off\n"
        "// The installer window's background panel (PNG) and animated strip (GIF).\n"
        "#pragma once\n\n"
        + c_array("splashbackgroundpng", png) + "\n" + c_array("splashanimationgif", strip)).encode())

    write("source/ui/splashsize.h", (
        "// Generated by resources/makesplash.py: do not edit.\n"
        "// The installer window's size in pixels: the background panel's.\n"
        "#pragma once\n\n"
        f"const int SPLASH_WIDTH = {PANEL_W};\nconst int SPLASH_HEIGHT = {PANEL_H};\n").encode())

    grey = [(200, 200, 200), (60, 60, 60)]
    single = gif(8, 2, grey, [(0, 0, 8, 2, [0] * 16, 8, None)], 0, loop=False)
    # Ten seconds per frame: a stop must not wait that out.
    slow = gif(8, 2, grey, [(0, 0, 8, 2, [0] * 16, 1000, None), (0, 0, 8, 2, [1] * 16, 1000, None)], 0)
    write("tests/ui/splashtestpictures.h", (
        "// Generated by resources/makesplash.py: do not edit.\n// clang-format off\n"
        "// Small GIFs for the strip player's tests.\n"
        "#pragma once\n\n"
        + c_array("gifsingleframe", single) + "\n" + c_array("giftwoframestenseconds", slow)).encode())


if __name__ == "__main__":
    main()
