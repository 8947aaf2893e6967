#!/usr/bin/env python3
"""Writes the committed corpora of the image readers' fuzz targets:
fuzz/patchloom_{gif,bmp,png,jpeg}/corpus. Run from the repository root:

  python3 tests/patchloom/image/make_fuzz_corpus.py

Each corpus holds a few well-formed files (made by Pillow and ImageMagick) and small
hostile ones, named after what they try.
"""
import io
import struct
import subprocess
import zlib
from pathlib import Path

from PIL import Image


def out(folder, name, data):
    path = Path("fuzz") / folder / "corpus" / name
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(data)


def pil_bytes(im, fmt, **kw):
    buf = io.BytesIO()
    im.save(buf, fmt, **kw)
    return buf.getvalue()


def palette_image(w, h, colours):
    im = Image.new("P", (w, h))
    im.putpalette([(i * 37 + k * 91) % 256 for i in range(256) for k in range(3)])
    im.putdata([(x * 3 + y * 5) % colours for y in range(h) for x in range(w)])
    return im


def rgb_image(w, h):
    im = Image.new("RGB", (w, h))
    im.putdata([(x * 8 % 256, y * 8 % 256, (x ^ y) * 4 % 256) for y in range(h) for x in range(w)])
    return im


class Codes:
    def __init__(self):
        self.acc, self.bits, self.data = 0, 0, bytearray()

    def put(self, code, size):
        self.acc |= code << self.bits
        self.bits += size
        while self.bits >= 8:
            self.data.append(self.acc & 0xFF)
            self.acc >>= 8
            self.bits -= 8

    def blocks(self):
        if self.bits:
            self.data.append(self.acc & 0xFF)
        out = bytearray()
        for i in range(0, len(self.data), 255):
            chunk = self.data[i:i + 255]
            out += bytes([len(chunk)]) + chunk
        return bytes(out + b"\0")


def root_codes(pixels, min_code_size):
    """Image data coding each pixel as its own root code, growing the code size as a
    decoder does."""
    c = Codes()
    clear = 1 << min_code_size
    size, nxt = min_code_size + 1, clear + 2
    c.put(clear, size)
    for i, p in enumerate(pixels):
        c.put(p, size)
        if i > 0 and nxt < 4096:
            nxt += 1
            if nxt >= (1 << size) and size < 12:
                size += 1
    c.put(clear + 1, size)
    return c.blocks()


def gif(width, height, min_code_size, blocks, screen=None, table_bits=1, extra=b"", flags=0):
    sw, sh = screen or (width, height)
    table = bytes(range(3 * (2 << table_bits)))
    head = b"GIF89a" + struct.pack("<HHBBB", sw, sh, 0x80 | table_bits, 0, 0) + table
    desc = b"," + struct.pack("<HHHHB", 0, 0, width, height, flags)
    return head + extra + desc + bytes([min_code_size]) + blocks + b";"


def gif_corpus():
    # Every code names the entry made just before it: chains grow to the table's size.
    c = Codes()
    size, nxt = 3, 6
    c.put(4, size)
    c.put(1, size)
    while nxt < 4096:
        c.put(nxt, size)
        nxt += 1
        if nxt >= (1 << size) and size < 12:
            size += 1
    c.put(5, size)
    out("patchloom_gif", "chain-longer-than-stack.gif", gif(4096, 2046, 2, c.blocks()))
    # Codes far above the next free code, right after a clear code and later.
    c = Codes()
    for code in (4, 7, 1, 7, 7, 6, 7, 7, 7):
        c.put(code, 3)
    out("patchloom_gif", "code-above-table.gif", gif(8, 8, 2, c.blocks()))
    out("patchloom_gif", "image-larger-than-screen.gif",
        gif(64, 64, 2, root_codes([i % 4 for i in range(64 * 64)], 2), screen=(2, 2)))
    out("patchloom_gif", "huge-65535.gif", gif(65535, 65535, 2, Codes().blocks()))
    out("patchloom_gif", "code-size-10.gif", gif(4, 4, 10, b"\1\0\0"))
    out("patchloom_gif", "code-size-0.gif", gif(4, 4, 0, b"\1\0\0"))
    out("patchloom_gif", "short-control-block.gif",
        gif(4, 4, 2, b"\1\0\0", extra=b"\x21\xF9\x02\x01\x00\x00"))
    ok = pil_bytes(palette_image(40, 30, 200), "GIF", interlace=False)
    out("patchloom_gif", "ok-plain.gif", ok)
    out("patchloom_gif", "truncated-data.gif", ok[: len(ok) // 2])
    out("patchloom_gif", "ok-interlaced-transparent.gif",
        pil_bytes(palette_image(17, 21, 16), "GIF", interlace=True, transparency=3))


def bmp_file(width, height, bits, compression=0, clr_used=0, table=b"", pixels=b"", header_size=40):
    info = struct.pack("<IiiHHIIiiII", header_size, width, height, 1, bits, compression, 0, 0, 0,
                       clr_used, 0)
    info += bytes(max(0, header_size - 40))
    body = info + table + pixels
    return b"BM" + struct.pack("<IHHI", 14 + len(body), 0, 0, 14 + header_size + len(table)) + body


def bmp_corpus():
    out("patchloom_bmp", "bomb-65535.bmp", bmp_file(65535, 65535, 24, pixels=bytes(16)))
    out("patchloom_bmp", "bomb-overflow.bmp", bmp_file(0x7FFFFFFF, 0x7FFFFFFF, 32, pixels=bytes(16)))
    out("patchloom_bmp", "bomb-negative-height.bmp", bmp_file(16, -0x7FFFFFFF, 8, table=bytes(1024)))
    out("patchloom_bmp", "truncated-rows.bmp", bmp_file(64, 64, 24, pixels=bytes(1000)))
    out("patchloom_bmp", "rle8.bmp", bmp_file(8, 8, 8, compression=1, table=bytes(1024), pixels=bytes(10)))
    # Hostile run-length data: runs and absolute runs past the row, deltas past the image,
    # data that stops inside a run, and a large image from a few bytes.
    t16 = bytes(range(64))
    out("patchloom_bmp", "rle8-run-past-row.bmp",
        bmp_file(8, 4, 8, compression=1, table=bytes(1024), pixels=bytes([255, 7, 0, 0, 200, 3, 0, 1])))
    out("patchloom_bmp", "rle8-absolute-past-row.bmp",
        bmp_file(4, 4, 8, compression=1, table=bytes(1024), pixels=bytes([0, 255]) + bytes(range(255)) + b"\0\0\1"))
    out("patchloom_bmp", "rle8-delta-past-image.bmp",
        bmp_file(8, 8, 8, compression=1, table=bytes(1024), pixels=bytes([0, 2, 255, 255, 4, 1, 0, 2, 7, 7, 1, 1])))
    out("patchloom_bmp", "rle8-truncated.bmp",
        bmp_file(16, 16, 8, compression=1, table=bytes(1024), pixels=bytes([5, 1, 0, 9, 1, 2, 3])))
    out("patchloom_bmp", "rle8-bomb-4096.bmp",
        bmp_file(4096, 4096, 8, compression=1, table=bytes(1024), pixels=bytes([0, 1])))
    out("patchloom_bmp", "rle4-run-past-row.bmp",
        bmp_file(5, 3, 4, compression=2, table=t16, pixels=bytes([255, 0x12, 0, 0, 0, 9, 0x12, 0x34, 0x56, 0x78, 0x90, 0, 0, 1])))
    out("patchloom_bmp", "rle4-delta-truncated.bmp",
        bmp_file(6, 6, 4, compression=2, table=t16, pixels=bytes([3, 0xAB, 0, 2, 1])))
    out("patchloom_bmp", "clrused-huge.bmp", bmp_file(4, 4, 8, clr_used=0xFFFFFFFF, pixels=bytes(16)))
    out("patchloom_bmp", "header-size-9999.bmp", bmp_file(4, 4, 24, header_size=9999, pixels=bytes(48)))
    out("patchloom_bmp", "bitfields-565.bmp",
        bmp_file(4, 2, 16, compression=3, table=struct.pack("<III", 0xF800, 0x07E0, 0x001F),
                 pixels=bytes(range(16))))
    ok = pil_bytes(rgb_image(13, 7), "BMP")
    out("patchloom_bmp", "ok-24.bmp", ok)
    out("patchloom_bmp", "ok-bare-dib.bmp", pil_bytes(palette_image(9, 5, 200), "BMP")[14:])
    subprocess.run(["convert", "-size", "10x6", "gradient:red-blue", "+dither", "-colors", "2",
                    "BMP2:fuzz/patchloom_bmp/corpus/ok-core-1.bmp"], check=True)
    subprocess.run(["convert", "-size", "10x6", "gradient:red-blue", "+dither", "-colors", "16",
                    "-type", "Palette", "BMP3:fuzz/patchloom_bmp/corpus/ok-4.bmp"], check=True)


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def png_corpus():
    ok = pil_bytes(rgb_image(40, 30), "PNG")
    out("patchloom_png", "truncated-half.png", ok[: len(ok) // 2])
    out("patchloom_png", "truncated-signature.png", ok[:5])
    huge = (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", struct.pack(">IIBBBBB", 65535, 65535, 8, 2, 0, 0, 0))
            + png_chunk(b"IDAT", zlib.compress(bytes(100))) + png_chunk(b"IEND", b""))
    out("patchloom_png", "huge-ihdr.png", huge)
    # Metadata chunks that declare nearly 2 GB must not be buffered whole.
    small = png_chunk(b"IHDR", struct.pack(">IIBBBBB", 4, 4, 8, 2, 0, 0, 0))
    for kind in (b"tEXt", b"zTXt", b"iTXt", b"eXIf", b"sPLT", b"pCAL"):
        declared = struct.pack(">I", 0x72FFFF26) + kind + b"key\0" + bytes(200)
        out("patchloom_png", "huge-" + kind.decode() + ".png", b"\x89PNG\r\n\x1a\n" + small + declared)
    bad = bytearray(ok)
    bad[40] ^= 0xFF
    out("patchloom_png", "bad-crc.png", bytes(bad))
    out("patchloom_png", "ok-palette-trns.png", pil_bytes(palette_image(11, 9, 20), "PNG", transparency=4))
    rgba = rgb_image(12, 10)
    rgba.putalpha(128)
    out("patchloom_png", "ok-rgba.png", pil_bytes(rgba, "PNG"))
    out("patchloom_png", "ok-grey-alpha.png", pil_bytes(rgba.convert("LA"), "PNG"))
    subprocess.run(["convert", "-size", "9x7", "gradient:white-black", "-define", "png:bit-depth=2",
                    "-define", "png:color-type=0", "fuzz/patchloom_png/corpus/ok-grey2.png"], check=True)
    subprocess.run(["convert", "-size", "9x7", "gradient:red-blue", "-interlace", "PNG",
                    "PNG48:fuzz/patchloom_png/corpus/ok-rgb16-interlaced.png"], check=True)
    inter = Path("fuzz/patchloom_png/corpus/ok-rgb16-interlaced.png").read_bytes()
    out("patchloom_png", "truncated-interlaced.png", inter[: len(inter) * 2 // 3])


def jpeg_corpus():
    ok = pil_bytes(rgb_image(40, 24), "JPEG", quality=80)
    out("patchloom_jpeg", "truncated-half.jpg", ok[: len(ok) // 2])
    out("patchloom_jpeg", "truncated-header.jpg", ok[:300])
    sof = ok.index(b"\xFF\xC0")
    huge = bytearray(ok)
    huge[sof + 5:sof + 9] = struct.pack(">HH", 65500, 65500)
    out("patchloom_jpeg", "huge-sof.jpg", bytes(huge))
    out("patchloom_jpeg", "ok-grey.jpg", pil_bytes(rgb_image(16, 16).convert("L"), "JPEG"))
    prog = pil_bytes(rgb_image(33, 17), "JPEG", progressive=True)
    out("patchloom_jpeg", "ok-progressive.jpg", prog)
    out("patchloom_jpeg", "truncated-progressive.jpg", prog[: len(prog) * 2 // 3])
    out("patchloom_jpeg", "cmyk.jpg", pil_bytes(rgb_image(8, 8).convert("CMYK"), "JPEG"))
    out("patchloom_jpeg", "not-jpeg.jpg", b"\xFF\xD8\xFF" + bytes(50))


if __name__ == "__main__":
    gif_corpus()
    bmp_corpus()
    png_corpus()
    jpeg_corpus()
