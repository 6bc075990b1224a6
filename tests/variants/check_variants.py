#!/usr/bin/python3
"""Brands a folder of every picture type and variant with sigilon-brand and
checks each copy with decoders that are not ours (Pillow, libheif's
heif-convert): the source's upright size, type, bit depth, channels and page
count; pixels changed only where the brand is (where it brands a plain grey
picture of that size, widened by a few pixels) and changed there; the colour
profile carried; picture information present exactly when asked; and every copy converted to
JPEG upright with the profile.

usage: check_variants.py SIGILON_BRAND WORK_DIR
"""

import os
import shutil
import struct
import subprocess
import sys
import zlib

from PIL import Image

FONT = '"DejaVu Sans", 14, [Bold], [$000000FF]'
W, H = 180, 130
ICC = None  # a real profile, taken from Pillow's own sRGB
FAILS = []


def fail(name, text):
    FAILS.append(f"{name}: {text}")


def srgb_profile():
    from PIL import ImageCms
    return ImageCms.ImageCmsProfile(ImageCms.createProfile("sRGB")).tobytes()


def exif_bytes(orientation, artist="Ansel"):
    exif = Image.Exif()
    exif[0x0112] = orientation
    exif[0x013B] = artist
    return exif.tobytes()


def gradient(mode, w=W, h=H):
    """Smooth content, so that lossy types stay close to it off the brand."""
    rgb = Image.new("RGB", (w, h))
    rgb.putdata([(x * 255 // w, y * 255 // h, (x + y) * 127 // (w + h) + 64)
                 for y in range(h) for x in range(w)])
    if mode == "RGBA":
        rgba = rgb.convert("RGBA")
        rgba.putalpha(Image.linear_gradient("L").resize((w, h)).point(lambda a: 40 + a * 215 // 255))
        return rgba
    if mode == "P":
        return rgb.quantize(64)
    return rgb.convert(mode)


def png16(path, channels, w=W, h=H, icc=None):
    """A 16-bit grey, RGB or RGBA PNG, which Pillow does not write."""
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    colour_type = {1: 0, 3: 2, 4: 6}[channels]
    rows = b""
    for y in range(h):
        row = b"\0"
        for x in range(w):
            s = [x * 65535 // w, y * 65535 // h, 30000, 20000 + x * 45000 // w][:channels]
            row += struct.pack(">" + "H" * channels, *s)
        rows += row
    data = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 16, colour_type, 0, 0, 0))
    if icc:
        data += chunk(b"iCCP", b"ICC\0\0" + zlib.compress(icc))
    data += chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b"")
    open(path, "wb").write(data)


def tiff_rgb16(path, w=W, h=H):
    """An uncompressed 16-bit RGB TIFF, which Pillow does not write."""
    pixels = b"".join(struct.pack("<HHH", x * 65535 // w, y * 65535 // h, 20000)
                      for y in range(h) for x in range(w))
    tags = [(256, 3, 1, w), (257, 3, 1, h), (258, 3, 3, 8 + 2 + 12 * 10 + 4), (259, 3, 1, 1),
            (262, 3, 1, 2), (273, 4, 1, 8 + 2 + 12 * 10 + 4 + 6), (277, 3, 1, 3), (278, 3, 1, h),
            (279, 4, 1, len(pixels)), (284, 3, 1, 1)]
    ifd = struct.pack("<H", len(tags)) + b"".join(struct.pack("<HHII", *t) for t in tags)
    open(path, "wb").write(b"II*\0" + struct.pack("<I", 8) + ifd + b"\0\0\0\0" +
                           struct.pack("<HHH", 16, 16, 16) + pixels)


def make_sources(src):
    """name -> what the copy must keep: lossless, pages, icc, exif."""
    global ICC
    ICC = srgb_profile()
    cases = {}

    def add(name, lossless=True, icc=False, exif=False, pages=1, tolerance=0):
        cases[name] = dict(lossless=lossless, icc=icc, exif=exif, pages=pages, tolerance=tolerance)

    for mode in ("RGB", "RGBA", "L", "LA", "P"):
        gradient(mode).save(f"{src}/png-{mode}.png")
        add(f"png-{mode}.png")
    palette = gradient("P")
    palette.save(f"{src}/png-P-trns.png", transparency=3)
    add("png-P-trns.png")
    for channels, label in ((1, "grey16"), (3, "rgb16"), (4, "rgba16")):
        png16(f"{src}/png-{label}.png", channels)
        add(f"png-{label}.png")
    gradient("RGB").save(f"{src}/png-rotated.png", icc_profile=ICC, exif=exif_bytes(6))
    add("png-rotated.png", icc=True, exif=True)

    for compression in ("raw", "tiff_lzw", "tiff_adobe_deflate", "packbits"):
        gradient("RGB").save(f"{src}/tiff-{compression}.tif", compression=compression)
        add(f"tiff-{compression}.tif")
    gradient("RGB").save(f"{src}/tiff-jpeg.tif", compression="jpeg", quality=95)
    add("tiff-jpeg.tif", lossless=False, tolerance=24)
    for mode in ("L", "RGBA", "P"):
        gradient(mode).save(f"{src}/tiff-{mode}.tiff", compression="tiff_lzw")
        add(f"tiff-{mode}.tiff")
    tiff_rgb16(f"{src}/tiff-rgb16.tif")
    add("tiff-rgb16.tif")
    gradient("RGB").save(f"{src}/tiff-pages.tif", save_all=True,
                         append_images=[gradient("RGB").transpose(Image.FLIP_LEFT_RIGHT)])
    add("tiff-pages.tif", pages=2)
    gradient("RGB").save(f"{src}/tiff-rotated.tif", icc_profile=ICC, tiffinfo={274: 6})
    add("tiff-rotated.tif", icc=True)

    gradient("RGB").save(f"{src}/webp-lossy.webp", quality=90)
    add("webp-lossy.webp", lossless=False, tolerance=24)
    gradient("RGBA").save(f"{src}/webp-lossless.webp", lossless=True)
    add("webp-lossless.webp")
    gradient("RGB").save(f"{src}/webp-rotated.webp", quality=90, icc_profile=ICC, exif=exif_bytes(6))
    add("webp-rotated.webp", lossless=False, icc=True, exif=True, tolerance=24)

    gradient("RGB").save(f"{src}/plain.png")
    for name, flag in (("heif-hevc.heic", []), ("heif-av1.avif", ["-A"])):
        subprocess.run(["heif-enc", *flag, "-q", "92", f"{src}/plain.png", "-o", f"{src}/{name}"],
                       check=True, capture_output=True)
        add(name, lossless=False, tolerance=24)
    os.remove(f"{src}/plain.png")

    gradient("RGB").save(f"{src}/jpeg-rotated.jpeg", quality=95, icc_profile=ICC, exif=exif_bytes(6))
    add("jpeg-rotated.jpeg", lossless=False, icc=True, exif=True, tolerance=12)
    gradient("RGB").save(f"{src}/bitmap.dib", format="BMP")
    add("bitmap.dib")
    return cases


def brand(tool, src, dst, *options):
    os.makedirs(dst, exist_ok=True)
    run = subprocess.run([tool, "--all-types", "--font", FONT, *options, "Proof", src, dst],
                         capture_output=True, text=True)
    if run.returncode != 0:
        fail("run", f"exit {run.returncode}: {run.stdout}{run.stderr}")


def open_picture(path):
    """Pillow's picture, or for HEIF libheif's own decoding into PNG."""
    if path.endswith((".heic", ".avif")):
        png = path + ".png"
        subprocess.run(["heif-convert", path, png], check=True, capture_output=True)
        return Image.open(png)
    return Image.open(path)


def kind(path):
    """What the file stores: format, mode, bits per sample, samples per pixel."""
    data = open(path, "rb").read(64)
    if data.startswith(b"\x89PNG"):
        depth, colour_type = data[24], data[25]
        return ("PNG", depth, {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[colour_type], colour_type)
    if data[4:8] == b"ftyp":
        raw = open(path, "rb").read()
        return ("HEIF", "av01" if b"av01" in raw else "hvc1" if b"hvc1" in raw else "?",
                open_picture(path).mode)
    picture = Image.open(path)
    if picture.format == "TIFF":
        tags = picture.tag_v2
        photometric = tags.get(262)
        if tags.get(259) == 7 and photometric == 6:
            photometric = 2  # JPEG-in-TIFF's RGB, stored as YCbCr as JPEG stores it
        return ("TIFF", tuple(tags.get(258, (1,)))[0], tags.get(277, 1), photometric, tags.get(259))
    return (picture.format or "HEIF", picture.mode)


def pixels(picture):
    if picture.mode.startswith("I"):  # 16-bit grey, which Pillow holds as integers
        picture = picture.point(lambda v: v * (1 / 257)).convert("L")
    return list(picture.convert("RGBA").getdata())


TURNS = {2: Image.FLIP_LEFT_RIGHT, 3: Image.ROTATE_180, 4: Image.FLIP_TOP_BOTTOM,
         5: Image.TRANSPOSE, 6: Image.ROTATE_270, 7: Image.TRANSVERSE, 8: Image.ROTATE_90}


def upright(picture):
    """The picture as its orientation tag says it stands."""
    orientation = picture.getexif().get(0x0112, 1)
    if picture.format == "TIFF":
        picture.load()
        if picture.size != (picture.tag_v2[256], picture.tag_v2[257]):
            return picture  # turned by libtiff as Pillow read it
    return picture.transpose(TURNS[orientation]) if orientation in TURNS else picture


MASKS = {}


def brand_mask(tool, work, size):
    """Where the brand lies on a picture of `size`: what it changes on grey."""
    if size not in MASKS:
        src, dst = f"{work}/mask-src", f"{work}/mask-dst"
        shutil.rmtree(src, ignore_errors=True)
        shutil.rmtree(dst, ignore_errors=True)
        os.makedirs(src)
        Image.new("RGB", size, (128, 128, 128)).save(f"{src}/m.png")
        brand(tool, src, dst)
        copy = Image.open(f"{dst}/m.png").convert("RGB").getdata()
        w, h = size
        hit = [c != (128, 128, 128) for c in copy]
        grown = [False] * (w * h)
        for y in range(h):
            for x in range(w):
                if hit[y * w + x]:
                    for yy in range(max(0, y - 3), min(h, y + 4)):
                        for xx in range(max(0, x - 3), min(w, x + 4)):
                            grown[yy * w + xx] = True
        MASKS[size] = (hit, grown)
    return MASKS[size]


def check_pixels(name, tool, work, source, copy, case):
    if copy.size != source.size:
        fail(name, f"size {copy.size}, expected the upright {source.size}")
        return
    hit, grown = brand_mask(tool, work, source.size)
    a, b = pixels(source), pixels(copy)
    worst, changed = 0, 0
    for i, (s, c) in enumerate(zip(a, b)):
        if s[3] == 0 and c[3] == 0:
            continue  # colour under full transparency is free
        d = max(abs(s[k] - c[k]) for k in range(4))
        if grown[i]:
            changed += hit[i] and d > 40
        else:
            worst = max(worst, d)
    if worst > case["tolerance"]:
        fail(name, f"changed by {worst} off the brand (allowed {case['tolerance']})")
    if changed < sum(hit) // 3:
        fail(name, f"brand hardly visible: {changed} of {sum(hit)} brand pixels changed")


def metadata(path):
    picture = Image.open(path) if not path.endswith((".heic", ".avif")) else None
    raw = open(path, "rb").read()
    icc = ICC in raw if picture is None else picture.info.get("icc_profile") == ICC
    exif = picture.getexif() if picture else {}
    if picture and picture.format == "TIFF":
        exif = {k: v for k, v in exif.items() if k in (0x013B, 0x8769)}  # beyond the baseline tags
    return icc, dict(exif), b"Ansel" in raw


def main():
    tool, work = sys.argv[1], sys.argv[2]
    shutil.rmtree(work, ignore_errors=True)
    src = f"{work}/src"
    os.makedirs(src)
    cases = make_sources(src)
    brand(tool, src, f"{work}/plain")
    brand(tool, src, f"{work}/kept", "--keep-metadata")
    brand(tool, src, f"{work}/jpeg", "--convert-to", "jpeg")
    for name, case in sorted(cases.items()):
        source_path, copy_path = f"{src}/{name}", f"{work}/plain/{name}"
        if not os.path.exists(copy_path):
            fail(name, "no copy")
            continue
        if kind(copy_path) != kind(source_path):
            fail(name, f"stored as {kind(copy_path)}, the source as {kind(source_path)}")
        source, copy = open_picture(source_path), open_picture(copy_path)
        pages = getattr(copy, "n_frames", 1)
        if pages != case["pages"]:
            fail(name, f"{pages} pages, expected {case['pages']}")
        for page in range(case["pages"]):
            source.seek(page)
            copy.seek(page)
            check_pixels(f"{name} page {page + 1}", tool, work, upright(source), copy, case)
        icc, exif, artist = metadata(copy_path)
        if icc != case["icc"]:
            fail(name, "colour profile lost" if case["icc"] else "a colour profile appeared")
        if exif.get(0x0112, 1) != 1 or artist:
            fail(name, f"picture information carried without being asked: {exif}")
        if case["exif"]:
            icc, exif, artist = metadata(f"{work}/kept/{name}")
            if not artist or exif.get(0x0112, 1) != 1:
                fail(name, f"--keep-metadata: artist {artist}, orientation {exif.get(0x0112)}")
        converted = Image.open(f"{work}/jpeg/{os.path.splitext(name)[0]}.jpg")
        if converted.format != "JPEG" or converted.size != upright(source).size:
            fail(name, f"--convert-to jpeg: {converted.format} of {converted.size}")
        if (converted.info.get("icc_profile") == ICC) != case["icc"]:
            fail(name, "--convert-to jpeg: colour profile not as the source's")
        print(f"checked {name}")
    for line in FAILS:
        print("FAIL", line)
    print(f"{len(cases)} variants, {len(FAILS)} failures")
    return 1 if FAILS else 0


if __name__ == "__main__":
    sys.exit(main())
