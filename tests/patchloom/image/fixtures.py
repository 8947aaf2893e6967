#!/usr/bin/env python3
"""Image fixtures for the image library's tests, made by independent encoders (Pillow
and ImageMagick), and the pixels those decoders read from files.

  fixtures.py make DIR          writes the fixture files into DIR, each with NAME.ref
  fixtures.py decode FILE OUT   writes what Pillow reads from FILE as a .ref file

A .ref file: b"REF1", width, height (uint32 LE), channels (uint8: 3 RGB or 4 RGBA),
the pixels top row first, then a flag byte and, when it is 1, the palette indices.
"""
import random
import struct
import subprocess
import sys
from pathlib import Path

from PIL import Image


def write_ref(im, out):
    if im.mode == "P":
        indices = bytes(im.getdata())
        has_alpha = "transparency" in im.info
    else:
        indices = None
        has_alpha = im.mode in ("RGBA", "LA") or (im.mode in ("RGB", "L") and "transparency" in im.info)
    rgb = im.convert("RGBA" if has_alpha else "RGB")
    channels = 4 if has_alpha else 3
    with open(out, "wb") as f:
        f.write(b"REF1" + struct.pack("<IIB", im.width, im.height, channels))
        f.write(rgb.tobytes())
        if indices is None:
            f.write(b"\0")
        else:
            f.write(b"\1" + indices)


def decode(path, out):
    with Image.open(path) as im:
        im.load()
        write_ref(im, out)


def noise_palette_image(width, height, colours, seed):
    rnd = random.Random(seed)
    im = Image.new("P", (width, height))
    pal = []
    for _ in range(colours):
        pal += [rnd.randrange(256) for _ in range(3)]
    im.putpalette(pal + [0] * (768 - len(pal)))
    # Runs of one colour with noise between them, so the LZW table fills, resets and
    # carries long chains.
    data = []
    for y in range(height):
        for x in range(width):
            data.append((x // 7 + y // 5) % colours if rnd.random() < 0.7 else rnd.randrange(colours))
    im.putdata(data)
    return im


def rgb_image(width, height, seed):
    rnd = random.Random(seed)
    im = Image.new("RGB", (width, height))
    im.putdata([((x * 255) // max(1, width - 1), (y * 255) // max(1, height - 1),
                 rnd.randrange(256)) for y in range(height) for x in range(width)])
    return im


def smooth_rgb_image(width, height):
    im = Image.new("RGB", (width, height))
    im.putdata([((x * 4) % 256, (y * 3) % 256, ((x + y) * 2) % 256)
                for y in range(height) for x in range(width)])
    return im


def gif_split(data):
    """Pillow's GIF as (header, global table, blocks before the image, descriptor, rest)."""
    flags = data[10]
    table_len = 3 * (1 << ((flags & 7) + 1)) if flags & 0x80 else 0
    pos = 13 + table_len
    start = pos
    while data[pos] == 0x21:
        pos += 2
        while data[pos]:
            pos += 1 + data[pos]
        pos += 1
    assert data[pos] == 0x2C
    return data[:13], data[13:13 + table_len], data[start:pos], data[pos:pos + 10], data[pos + 10:]


def rle_encode(rows, four):
    """Rows bottom-up of indices -> RLE data with encoded and absolute runs, end-of-line
    after each row, end of bitmap at the end."""
    out = bytearray()
    for row in rows:
        x = 0
        n = len(row)
        while x < n:
            # encoded run of equal (RLE8) or alternating-pair (RLE4) pixels
            run = 1
            if four:
                while x + run < n and run < 255 and row[x + run] == row[x + (run % 2)]:
                    run += 1
            else:
                while x + run < n and run < 255 and row[x + run] == row[x]:
                    run += 1
            if run >= 3 or x + run == n and run >= 2:
                if four:
                    hi, lo = row[x], row[x + 1] if run > 1 else 0
                    out += bytes([run, (hi << 4) | lo])
                else:
                    out += bytes([run, row[x]])
                x += run
                continue
            # absolute run up to the next run of 3
            end = x
            while end < n and end - x < 255:
                if end + 2 < n and row[end] == row[end + 1] == row[end + 2]:
                    break
                end += 1
            count = end - x
            if four and count % 2 and count > 3:
                # Pillow reads count // 2 bytes of an odd absolute RLE4 run; keep them even.
                count -= 1
                end -= 1
            if count < 3 or (four and count % 2):
                for i in range(count):
                    out += bytes([1, row[x + i] << 4 if four else row[x + i]])
                x = end
                continue
            out += bytes([0, count])
            if four:
                data = bytearray()
                for i in range(0, count, 2):
                    data.append((row[x + i] << 4) | (row[x + i + 1] if i + 1 < count else 0))
            else:
                data = bytearray(row[x:end])
            if len(data) % 2:
                data.append(0)
            out += data
            x = end
        out += b"\0\0"
    out += b"\0\1"
    return bytes(out)

def rle_bmp(im, four):
    w, h = im.size
    px = list(im.getdata())
    rows = [px[(h - 1 - y) * w:(h - y) * w] for y in range(h)]
    data = rle_encode(rows, four)
    pal = im.getpalette()[: (16 if four else 256) * 3]
    colours = len(pal) // 3
    table = b"".join(bytes([pal[3 * i + 2], pal[3 * i + 1], pal[3 * i], 0]) for i in range(colours))
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 4 if four else 8, 2 if four else 1, len(data), 0, 0, colours, 0)
    off = 14 + 40 + len(table)
    return b"BM" + struct.pack("<IHHI", off + len(data), 0, 0, off) + info + table + data


def bitfield_bmp(im, bits, masks, header=40):
    """A BI_BITFIELDS BMP of the RGB image `im` with the three masks, and the pixels a
    reader honouring them must give (each channel's top bits, widened by repeating them)."""
    w, h = im.size
    px = list(im.getdata())

    def fit(value, mask):
        shift = (mask & -mask).bit_length() - 1
        width = bin(mask).count("1")
        return ((value >> (8 - width)) if width <= 8 else (value << (width - 8))) << shift

    def widen(value, mask):
        width = bin(mask).count("1")
        if width >= 8:
            return value
        v = value >> (8 - width)
        wide, filled = 0, 0
        while filled < 8:
            wide, filled = (wide << width) | v, filled + width
        return wide >> (filled - 8)

    stride = (w * bits // 8 + 3) & ~3
    rows = bytearray()
    for y in range(h - 1, -1, -1):
        row = bytearray()
        for x in range(w):
            r, g, b = px[y * w + x]
            row += (fit(r, masks[0]) | fit(g, masks[1]) | fit(b, masks[2])).to_bytes(bits // 8, "little")
        rows += row + bytes(stride - len(row))
    info = struct.pack("<IiiHHIIiiII", header, w, h, 1, bits, 3, len(rows), 0, 0, 0, 0)
    info += struct.pack("<III", *masks) + bytes(max(0, header - 52))
    masks_after = b"" if header >= 52 else struct.pack("<III", *masks)
    info = info[:header] if header >= 52 else info[:40]
    off = 14 + len(info) + len(masks_after)
    data = b"BM" + struct.pack("<IHHI", off + len(rows), 0, 0, off) + info + masks_after + bytes(rows)
    expected = Image.new("RGB", (w, h))
    expected.putdata([tuple(widen(c, m) for c, m in zip(p, masks)) for p in px])
    return data, expected


def check(cond, what):
    if not cond:
        sys.exit("fixture not as intended: " + what)


def magick(*args):
    subprocess.run(["convert", *args], check=True)


def make(d):
    d = Path(d)
    d.mkdir(parents=True, exist_ok=True)

    def save(im, name, ref_from_file=True, **kw):
        path = d / name
        im.save(path, **kw)
        if ref_from_file:
            decode(path, str(path) + ".ref")
        return path

    # GIF
    plain = noise_palette_image(61, 37, 200, 1)
    p = save(plain, "plain.gif", interlace=False)
    check(not gif_split(p.read_bytes())[3][9] & 0x40, "plain GIF not interlaced")
    p = save(noise_palette_image(45, 29, 64, 2), "interlaced.gif", interlace=True)
    check(gif_split(p.read_bytes())[3][9] & 0x40, "interlaced flag")
    p = save(noise_palette_image(33, 19, 16, 3), "transparent.gif", transparency=3, interlace=False)
    check(len(gif_split(p.read_bytes())[1]) == 48, "16-entry table")
    big = noise_palette_image(300, 200, 256, 4)
    save(big, "large.gif", interlace=False)
    # A local colour table over a global table of black: only the local one gives the
    # right colours.
    header, table, blocks, desc, rest = gif_split(save(noise_palette_image(23, 17, 32, 5),
                                                       "local_source.gif", interlace=False).read_bytes())
    size_bits = header[10] & 7
    desc = desc[:9] + bytes([0x80 | size_bits])
    local = d / "local.gif"
    local.write_bytes(header + bytes(len(table)) + blocks + desc + table + rest)
    decode(local, str(local) + ".ref")

    # PNG
    rgb = rgb_image(37, 23, 6)
    save(rgb, "rgb.png")
    rgba = rgb.copy()
    rgba.putalpha(Image.frombytes("L", rgb.size, bytes((i * 7) % 256 for i in range(37 * 23))))
    save(rgba, "rgba.png")
    pal = noise_palette_image(29, 21, 120, 7)
    save(pal, "palette.png")
    pal16 = noise_palette_image(31, 13, 16, 8)
    p = save(pal16, "palette4.png", bits=4)
    check(p.read_bytes()[24] == 4, "4-bit palette PNG")
    p = save(noise_palette_image(19, 11, 40, 9), "palette_trns.png", transparency=5)
    check(b"tRNS" in p.read_bytes(), "tRNS chunk")
    grey = rgb.convert("L")
    save(grey, "grey.png")
    la = rgba.convert("LA")
    save(la, "grey_alpha.png")
    magick("-size", "23x9", "gradient:white-black", "-define", "png:bit-depth=2", "-define",
           "png:color-type=0", str(d / "grey2.png"))
    check((d / "grey2.png").read_bytes()[24:26] == b"\x02\x00", "2-bit grey PNG")
    decode(d / "grey2.png", str(d / "grey2.png") + ".ref")
    magick(str(d / "rgb.png"), "-interlace", "PNG", str(d / "interlaced.png"))
    check(open(d / "interlaced.png", "rb").read()[28] == 1, "interlaced PNG")
    decode(d / "interlaced.png", str(d / "interlaced.png") + ".ref")
    # 16-bit RGB from a 16-bit PPM whose low bytes differ from the high bytes; the
    # expected pixels are the high bytes, written as a reference by hand.
    w16, h16 = 21, 14
    rnd = random.Random(10)
    samples = [rnd.randrange(65536) for _ in range(w16 * h16 * 3)]
    ppm = d / "rgb16.ppm"
    ppm.write_bytes(b"P6\n%d %d\n65535\n" % (w16, h16) + struct.pack(">%dH" % len(samples), *samples))
    magick(str(ppm), "-depth", "16", "PNG48:" + str(d / "rgb16.png"))
    raw = (d / "rgb16.png").read_bytes()
    check(raw[24] == 16 and raw[25] == 2, "16-bit RGB PNG")
    with open(str(d / "rgb16.png") + ".ref", "wb") as f:
        f.write(b"REF1" + struct.pack("<IIB", w16, h16, 3) + bytes(s >> 8 for s in samples) + b"\0")

    # JPEG
    photo = smooth_rgb_image(64, 48)
    save(photo, "colour.jpg", quality=90)
    save(photo.convert("L"), "grey.jpg", quality=90)

    # BMP
    save(rgb, "rgb24.bmp")
    save(pal, "palette8.bmp")
    magick(str(d / "palette4.png"), "-type", "Palette", "BMP3:" + str(d / "palette4.bmp"))
    raw = (d / "palette4.bmp").read_bytes()
    check(raw[28] == 4 and raw[14] == 40, "4-bit BMP")
    decode(d / "palette4.bmp", str(d / "palette4.bmp") + ".ref")
    magick(str(d / "palette.png"), "-type", "Palette", "BMP2:" + str(d / "core8.bmp"))
    raw = (d / "core8.bmp").read_bytes()
    check(raw[14] == 12 and raw[24] == 8, "8-bit core BMP")
    decode(d / "core8.bmp", str(d / "core8.bmp") + ".ref")
    two = Image.new("P", (13, 9))
    two.putpalette([250, 10, 20, 5, 60, 200] + [0] * 762)
    two.putdata([(x * y + x) % 2 for y in range(9) for x in range(13)])
    save(two, "two_source.png")
    magick(str(d / "two_source.png"), "+dither", "-colors", "2", "BMP2:" + str(d / "core1.bmp"))
    raw = (d / "core1.bmp").read_bytes()
    check(raw[14] == 12 and raw[24] == 1, "1-bit core BMP")
    decode(d / "core1.bmp", str(d / "core1.bmp") + ".ref")
    # A bare DIB (no "BM" file header) and a top-down file, both cut from Pillow's file.
    # Run-length files: RLE8 from ImageMagick, RLE4 from our own encoder (ImageMagick
    # writes none); Pillow's reading is the reference.
    magick(str(d / "palette.png"), "-compress", "RLE", "BMP3:" + str(d / "rle8.bmp"))
    check((d / "rle8.bmp").read_bytes()[30] == 1, "RLE8 BMP")
    decode(d / "rle8.bmp", str(d / "rle8.bmp") + ".ref")
    (d / "rle4.bmp").write_bytes(rle_bmp(pal16, True))
    decode(d / "rle4.bmp", str(d / "rle4.bmp") + ".ref")
    check(list(Image.open(d / "rle4.bmp").getdata()) == list(pal16.getdata()), "RLE4 round trip")
    # Bit fields: red and blue where BI_RGB has them swapped, a 4-4-4 layout, and 10-bit
    # channels in a V5 header.
    for name, bits, masks, header in (("fields32_rgb.bmp", 32, (0xFF, 0xFF00, 0xFF0000), 40),
                                      ("fields16_444.bmp", 16, (0x0F00, 0x00F0, 0x000F), 40),
                                      ("fields32_v5.bmp", 32, (0x3FF00000, 0xFFC00, 0x3FF), 124)):
        data, expected = bitfield_bmp(rgb, bits, masks, header)
        (d / name).write_bytes(data)
        write_ref(expected, str(d / name) + ".ref")
    src = (d / "palette8.bmp").read_bytes()
    (d / "bare.bmp").write_bytes(src[14:])
    Path(str(d / "bare.bmp") + ".ref").write_bytes(Path(str(d / "palette8.bmp") + ".ref").read_bytes())
    src = (d / "rgb24.bmp").read_bytes()
    offset = struct.unpack("<I", src[10:14])[0]
    w, h = struct.unpack("<ii", src[18:26])
    stride = (w * 3 + 3) // 4 * 4
    rows = [src[offset + i * stride: offset + (i + 1) * stride] for i in range(h)]
    top_down = src[:22] + struct.pack("<i", -h) + src[26:offset] + b"".join(reversed(rows))
    (d / "topdown.bmp").write_bytes(top_down)
    Path(str(d / "topdown.bmp") + ".ref").write_bytes(Path(str(d / "rgb24.bmp") + ".ref").read_bytes())


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "make":
        make(sys.argv[2])
    elif len(sys.argv) == 4 and sys.argv[1] == "decode":
        decode(sys.argv[2], sys.argv[3])
    else:
        sys.exit(__doc__)
