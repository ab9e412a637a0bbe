"""The image codecs against independent encoders and decoders written here with Python's zlib
and struct: files made here load with the pixels they were made with (PNG, BMP, TIFF and GIF
exactly); files zel saves decode here to zel's pixels (PNG, BMP, TIFF exactly, GIF exactly for
an opaque image of few colours, JPEG within a tolerance through zel's own decoder); damaged and
truncated files raise access/bad-media and never crash; sizes past 65,535 are refused."""
import http.server
import os
import random
import struct
import tempfile
import threading
import zlib

from zeltest import run_script, check, finish

rng = random.Random(29)
W, H = 7, 5  # an odd width: BMP rows need padding


def random_pixels(alpha=True, colours=None):
    out = []
    for _ in range(W * H):
        r, g, b = rng.choice(colours) if colours else (rng.randrange(256), rng.randrange(256),
                                                         rng.randrange(256))
        out.append((r, g, b, rng.choice([0, 1, 128, 254, 255]) if alpha else 255))
    return out


# ---- encoders ---------------------------------------------------------------------------------

def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def write_png(pixels, alpha):
    raw = b""
    for y in range(H):
        raw += b"\0" + b"".join(bytes(p[:4] if alpha else p[:3]) for p in pixels[y * W:(y + 1) * W])
    header = struct.pack(">IIBBBBB", W, H, 8, 6 if alpha else 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", header) +
            png_chunk(b"IDAT", zlib.compress(raw)) + png_chunk(b"IEND", b""))


def write_bmp24(pixels):
    stride = (W * 3 + 3) & ~3
    rows = b""
    for y in reversed(range(H)):
        row = b"".join(bytes((b, g, r)) for r, g, b, _ in pixels[y * W:(y + 1) * W])
        rows += row + b"\0" * (stride - len(row))
    info = struct.pack("<IiiHHIIiiII", 40, W, H, 1, 24, 0, len(rows), 2835, 2835, 0, 0)
    return b"BM" + struct.pack("<IHHI", 54 + len(rows), 0, 0, 54) + info + rows


def write_bmp8(pixels, palette):
    stride = (W + 3) & ~3
    rows = b""
    for y in range(H):  # top-down: a negative height
        row = bytes(palette.index(p[:3]) for p in pixels[y * W:(y + 1) * W])
        rows += row + b"\0" * (stride - len(row))
    table = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    info = struct.pack("<IiiHHIIiiII", 40, W, -H, 1, 8, 0, len(rows), 0, 0, len(palette), 0)
    offset = 54 + len(table)
    return b"BM" + struct.pack("<IHHI", offset + len(rows), 0, 0, offset) + info + table + rows


def write_tiff(pixels, alpha):
    spp = 4 if alpha else 3
    data = b"".join(bytes(p[:spp]) for p in pixels)
    entries = [(256, 3, 1, W), (257, 3, 1, H), (258, 3, 1, 8), (259, 3, 1, 1), (262, 3, 1, 2),
               (273, 4, 1, 8), (277, 3, 1, spp), (278, 3, 1, H), (279, 4, 1, len(data))]
    if alpha:
        entries.append((338, 3, 1, 2))
    entries.sort()
    ifd_at = 8 + len(data)
    ifd = struct.pack("<H", len(entries))
    for tag, kind, count, value in entries:
        ifd += struct.pack("<HHI", tag, kind, count) + (struct.pack("<HH", value, 0) if kind == 3
                                                        else struct.pack("<I", value))
    return b"II*\0" + struct.pack("<I", ifd_at) + data + ifd + b"\0\0\0\0"


def lzw_uncompressed(indexes, bits):
    # Codes stay literal: a clear code before the table would grow past the code size.
    clear, end, size = 1 << bits, (1 << bits) + 1, bits + 1
    codes, run = [clear], 0
    for i in indexes:
        if run == (1 << size) - (1 << bits) - 3:
            codes.append(clear)
            run = 0
        codes.append(i)
        run += 1
    codes.append(end)
    acc = n = 0
    out = bytearray()
    for c in codes:
        acc |= c << n
        n += size
        while n >= 8:
            out.append(acc & 255)
            acc >>= 8
            n -= 8
    if n:
        out.append(acc & 255)
    blocks = b"".join(bytes([len(out[k:k + 255])]) + out[k:k + 255] for k in range(0, len(out), 255))
    return bytes([bits]) + blocks + b"\0"


def write_gif(pixels, palette, transparent, interlace=False):
    table = b"".join(bytes(c) for c in palette) + b"\0" * (3 * (256 - len(palette)))
    indexes = [transparent if p[3] == 0 else palette.index(p[:3]) for p in pixels]
    if interlace:  # rows in four passes: every 8th from 0, from 4, every 4th from 2, 2nd from 1
        order = [y for first, step in ((0, 8), (4, 8), (2, 4), (1, 2)) for y in range(first, H, step)]
        indexes = [i for y in order for i in indexes[y * W:(y + 1) * W]]
    gce = b"\x21\xf9\x04\x01\0\0" + bytes([transparent]) + b"\0"
    return (b"GIF89a" + struct.pack("<HHBBB", W, H, 0xF7, 0, 0) + table + gce +
            b"\x2c" + struct.pack("<HHHHB", 0, 0, W, H, 0x40 if interlace else 0) + lzw_uncompressed(indexes, 8) + b"\x3b")


# ---- decoders of what zel writes -------------------------------------------------------------

def read_png(data):
    pos, idat, w = 8, b"", 0
    while pos < len(data):
        n, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + n]
        if kind == b"IHDR":
            w, h, depth, ctype = struct.unpack(">IIBB", body[:10])
            assert depth == 8 and ctype in (2, 6), (depth, ctype)
            bpp = 4 if ctype == 6 else 3
        elif kind == b"IDAT":
            idat += body
        pos += 12 + n
    raw, prev, out, stride = zlib.decompress(idat), bytearray(w * bpp), [], w * bpp
    for y in range(h):
        f, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b, c = prev[i], prev[i - bpp] if i >= bpp else 0
            if f == 1:
                line[i] = (line[i] + a) & 255
            elif f == 2:
                line[i] = (line[i] + b) & 255
            elif f == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif f == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        out += [tuple(line[x * bpp:x * bpp + bpp]) + ((255,) if bpp == 3 else ()) for x in range(w)]
        prev = line
    return (w, h), out


def read_bmp(data):
    offset, = struct.unpack("<I", data[10:14])
    size, w, h, _, bits, compression = struct.unpack("<IiiHHI", data[14:34])
    assert bits == 32 and compression == 3
    masks = struct.unpack("<IIII", data[54:70])
    assert masks == (0xFF0000, 0xFF00, 0xFF, 0xFF000000)
    rows = [data[offset + y * w * 4:offset + (y + 1) * w * 4] for y in range(abs(h))]
    if h > 0:
        rows.reverse()
    return (w, abs(h)), [(r[x * 4 + 2], r[x * 4 + 1], r[x * 4], r[x * 4 + 3]) for r in rows
                         for x in range(w)]


def read_tiff(data):
    assert data[:4] == b"II*\0"
    at, = struct.unpack("<I", data[4:8])
    n, = struct.unpack("<H", data[at:at + 2])
    tags = {}
    for k in range(n):
        tag, kind, count, value = struct.unpack("<HHII", data[at + 2 + 12 * k:at + 14 + 12 * k])
        if kind == 3 and count == 1:
            value &= 0xFFFF
        if count > 1 or kind not in (3, 4):
            size = {3: 2, 4: 4}.get(kind, 1)
            fmt = "<" + {3: "H", 4: "I"}.get(kind, "B") * count
            where = value if count * size > 4 else at + 10 + 12 * k
            value = struct.unpack(fmt, data[where:where + count * size])
        tags[tag] = value
    w, h, spp = tags[256], tags[257], tags[277]
    offsets = tags[273] if isinstance(tags[273], tuple) else (tags[273],)
    counts = tags[279] if isinstance(tags[279], tuple) else (tags[279],)
    raw = b""
    for o, c in zip(offsets, counts):
        strip = data[o:o + c]
        raw += zlib.decompress(strip) if tags[259] in (8, 32946) else strip
    assert tags[259] in (1, 8, 32946)
    return (w, h), [tuple(raw[i * spp:i * spp + spp]) + ((255,) if spp == 3 else ())
                    for i in range(w * h)]


def lzw_decode(data, min_size):
    clear, end = 1 << min_size, (1 << min_size) + 1
    size, table, prev, out = min_size + 1, None, None, []
    acc = n = 0
    stream = iter(data)
    while True:
        while n < size:
            acc |= next(stream) << n
            n += 8
        code, acc, n = acc & ((1 << size) - 1), acc >> size, n - size
        if code == clear:
            table = [[i] for i in range(clear)] + [None, None]
            size, prev = min_size + 1, None
            continue
        if code == end:
            return out
        entry = table[code] if code < len(table) else table[prev] + [table[prev][0]]
        out += entry
        if prev is not None:
            table.append(table[prev] + [entry[0]])
            if len(table) == 1 << size and size < 12:
                size += 1
        prev = code


def read_gif(data):
    assert data[:6] in (b"GIF87a", b"GIF89a")
    w, h, flags = struct.unpack("<HHB", data[6:11])
    pos, palette, transparent = 13, [], None
    if flags & 0x80:
        n = 2 << (flags & 7)
        palette = [tuple(data[pos + 3 * i:pos + 3 * i + 3]) for i in range(n)]
        pos += 3 * n
    while data[pos] == 0x21:
        if data[pos + 1] == 0xF9 and data[pos + 3] & 1:
            transparent = data[pos + 6]
        pos += 2
        while data[pos]:
            pos += data[pos] + 1
        pos += 1
    assert data[pos] == 0x2C and not data[pos + 9] & 0x80
    pos += 10
    min_size, pos, body = data[pos], pos + 1, b""
    while data[pos]:
        body += data[pos + 1:pos + 1 + data[pos]]
        pos += data[pos] + 1
    idx = lzw_decode(body, min_size)[:w * h]
    return (w, h), [(0, 0, 0, 0) if i == transparent else palette[i] + (255,) for i in idx]


# ---- the checks -------------------------------------------------------------------------------

def argb_pixels(hex_text):
    raw = bytes.fromhex(hex_text)
    return [(raw[i + 2], raw[i + 1], raw[i], raw[i + 3]) for i in range(0, len(raw), 4)]


def zel_bytes(pixels):
    rgb = "".join(f"{r:02X}{g:02X}{b:02X}" for r, g, b, _ in pixels)
    alpha = "".join(f"{255 - a:02X}" for *_, a in pixels)
    return f"make image! [{W}x{H} #{{{rgb}}} #{{{alpha}}}]"


with tempfile.TemporaryDirectory() as folder:
    def path(name):
        return os.path.join(folder, name)

    few = [(rng.randrange(256), rng.randrange(256), rng.randrange(256)) for _ in range(9)]
    rgba, rgb, paletted = random_pixels(), random_pixels(False), random_pixels(False, few)
    gif_pixels = [p if rng.random() < 0.8 else (0, 0, 0, 0) for p in paletted]
    fixtures = {
        "rgba.png": (write_png(rgba, True), rgba),
        "rgb.png": (write_png(rgb, False), rgb),
        "rgb24.bmp": (write_bmp24(rgb), rgb),
        "pal8.bmp": (write_bmp8(paletted, few), paletted),
        "rgb.tif": (write_tiff(rgb, False), rgb),
        "rgba.tif": (write_tiff(rgba, True), rgba),
        "pal.gif": (write_gif(gif_pixels, few, 200), gif_pixels),
        "interlaced.gif": (write_gif(gif_pixels, few, 200, True), gif_pixels),
    }
    for name, (data, _) in fixtures.items():
        with open(path(name), "wb") as f:
            f.write(data)

    # Decoding files made here.
    lines = ["Zel []"]
    for name in fixtures:
        lines.append(f'i: load %{path(name)} print [i/size enbase/base i/argb 16]')
    out = run_script(lines)
    for k, (name, (_, expected)) in enumerate(fixtures.items()):
        size, _, hex_text = out[k].partition(" ")
        check(size == f"{W}x{H}", f"{name}: size {size}")
        check(argb_pixels(hex_text) == expected, f"{name}: decoded pixels differ")

    # A URL chooses its codec by the answer's MIME type: the path has no suffix.
    os.environ["no_proxy"] = os.environ["NO_PROXY"] = "127.0.0.1"
    served = fixtures["rgba.png"][0]

    class Handler(http.server.BaseHTTPRequestHandler):
        def log_message(self, *args):
            pass

        def do_GET(self):
            self.send_response(200)
            self.send_header("Content-Type", "image/png")
            self.send_header("Content-Length", str(len(served)))
            self.end_headers()
            self.wfile.write(served)

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    out = run_script(["Zel []", f"i: load http://127.0.0.1:{server.server_address[1]}/photo",
                      "print [i/size enbase/base i/argb 16]"])
    server.shutdown()
    size, _, hex_text = out[0].partition(" ")
    check(size == f"{W}x{H}" and argb_pixels(hex_text) == rgba, "image/png by MIME type: " + out[0][:40])

    # Encoding: zel saves, Python decodes.
    gradient = [(x * 36, y * 60, 255 - x * 30, 255) for y in range(H) for x in range(W)]
    opaque_few = [p[:3] + (255,) for p in paletted]
    cases = [("out.png", rgba, read_png), ("out.bmp", rgba, read_bmp), ("out.tif", rgba, read_tiff),
             ("out.gif", opaque_few, read_gif)]
    lines = ["Zel []"]
    for name, pixels, _ in cases:
        lines.append(f"save %{path(name)} {zel_bytes(pixels)}")
    lines.append(f"j: {zel_bytes(gradient)} save %{path('out.jpg')} j")
    lines.append(f"i: load %{path('out.jpg')} print [i/size enbase/base i/argb 16]")
    lines.append(f"b: save/as none j 'png print equal? j load/as b 'png")
    out = run_script(lines)
    for name, pixels, reader in cases:
        with open(path(name), "rb") as f:
            size, got = reader(f.read())
        check(size == (W, H), f"{name}: size {size}")
        check(got == pixels, f"{name}: Python decodes other pixels than zel saved")
    size, _, hex_text = out[0].partition(" ")
    worst = max(abs(a - b) for p, q in zip(argb_pixels(hex_text), gradient) for a, b in zip(p, q))
    check(size == f"{W}x{H}" and worst <= 12, f"JPEG round trip: size {size}, worst channel {worst}")
    check(out[1] == "true", "save/as none ... 'png then load/as gives the same image")

    # A GIF of more colours than a palette holds goes through the quantiser: it still loads,
    # each pixel near its colour.
    many = [(x * 37 % 256, y * 51 % 256, (x * y * 13) % 256) for y in range(40) for x in range(40)]
    rgb_text = "".join(f"{r:02X}{g:02X}{b:02X}" for r, g, b in many)
    out = run_script(["Zel []", f"i: make image! [40x40 #{{{rgb_text}}}]",
                      f"save %{path('many.gif')} i",
                      f"j: load %{path('many.gif')} print enbase/base j/rgb 16"])
    back = bytes.fromhex(out[0])
    worst = max(abs(back[i] - v) for i, v in enumerate(b"".join(bytes(c) for c in many)))
    check(worst <= 48, f"quantised GIF: worst channel {worst}")

    # Damaged files: every truncation is refused; flipped bytes never crash the program.
    lines = ["Zel []"]
    damaged = 0
    for name, (data, _) in fixtures.items():
        for cut in sorted({len(data) // 2, len(data) * 3 // 4, 20, 9}):
            with open(path(f"cut{damaged}{os.path.splitext(name)[1]}"), "wb") as f:
                f.write(data[:cut])
            lines.append(f'e: try [load %{path(f"cut{damaged}{os.path.splitext(name)[1]}")}] '
                         f'print either error? e [e/id] ["loaded"]')
            damaged += 1
    flips = []
    for name, (data, _) in fixtures.items():
        for k in range(6):
            bad = bytearray(data)
            for _ in range(3):
                bad[rng.randrange(len(bad))] ^= 1 << rng.randrange(8)
            flips.append(path(f"flip{len(flips)}{os.path.splitext(name)[1]}"))
            with open(flips[-1], "wb") as f:
                f.write(bad)
    for p in flips:
        lines.append(f"attempt [load %{p}]")
    # A PNG header that claims a width past 65,535.
    header = struct.pack(">IIBBBBB", 70000, 1, 8, 6, 0, 0, 0)
    wide = b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", header) + png_chunk(
        b"IDAT", zlib.compress(b"\0" + b"\xff" * 280000)) + png_chunk(b"IEND", b"")
    with open(path("wide.png"), "wb") as f:
        f.write(wide)
    lines.append(f"e: try [load %{path('wide.png')}] print e/id")
    lines.append("a: try [make image! 70000x1] b: try [make image! 65535x65535] print [a/id b/id]")
    lines.append("print 'done")
    out = run_script(lines)
    for k in range(damaged):
        check(out[k] == "bad-media", f"truncated file {k}: {out[k]}")
    check(out[damaged] == "bad-media", f"a width past 65,535 in a file: {out[damaged]}")
    check(out[damaged + 1] == "invalid-arg no-memory", f"sizes past the limits: {out[damaged + 1]}")
    check(out[damaged + 2] == "done", "damaged files did not end the program")

finish()
