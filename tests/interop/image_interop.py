#!/usr/bin/env python3
"""Kem's image codecs against ImageMagick, both ways.

    image_interop.py KEM_ZPIPE

Files Kem writes must open in ImageMagick (`identify` names their format and
size) with the same pixels (`compare` counts no differing pixel for PNG, BMP
and TIFF, and for GIF of few colours; JPEG stays close). Files ImageMagick
writes, in many layouts of each format, must load in Kem, from a file and
from memory, with the pixels ImageMagick itself reads from them.
Exits 77 (skipped) when ImageMagick is not installed.
"""
import os
import shutil
import subprocess
import sys
import tempfile

ZPIPE = sys.argv[1]
W, H = 13, 7
failures = []


def kem(code, data=b""):
    run = subprocess.run([ZPIPE, code], input=data, capture_output=True)
    if run.returncode != 0:
        raise RuntimeError("%s: %s" % (code, run.stderr.decode().strip()))
    return run.stdout


def magick(*args, data=None):
    run = subprocess.run(list(args), input=data, capture_output=True)
    if run.returncode != 0:
        raise RuntimeError("%s: %s" % (" ".join(args), run.stderr.decode().strip()))
    return run.stdout, run.stderr


def pattern(alpha, colours=None):
    """RGBA bytes: varied colours, and alpha varied, or 0 and 255 only (with
    the transparent pixels black, as GIF gives them back)."""
    out = bytearray()
    for y in range(H):
        for x in range(W):
            if colours:
                r, g, b = colours[(x + y * W) % len(colours)]
            else:
                r, g, b = (x * 37 + y * 11) & 255, (x * 5 + y * 71) & 255, (x * y * 3 + 7) & 255
            a = 255
            if alpha == "varied":
                a = (x * 29 + y * 13) & 255
            elif alpha == "binary" and (x + y) % 3 == 0:
                r = g = b = a = 0
            out += bytes((r, g, b, a))
    return bytes(out)


def smooth():
    """Opaque gradients, which JPEG keeps close."""
    return bytes(v for y in range(H) for x in range(W) for v in (x * 18, y * 30, 128, 255))


def rgba_to_bgra(data):
    out = bytearray(data)
    out[0::4], out[2::4] = data[2::4], data[0::4]
    return bytes(out)


bgra_to_rgba = rgba_to_bgra


def pixels_of(path):
    return magick("convert", path, "-depth", "8", "rgba:-")[0]


def worst(got, want, skip_clear=False):
    """The largest channel difference; with skip_clear, pixels that are fully
    transparent in `want` do not count (their colour cannot come back)."""
    if len(got) != len(want):
        return 256
    d = 0
    for i in range(0, len(want), 4):
        if skip_clear and want[i + 3] == 0:
            continue
        d = max(d, max(abs(got[i + k] - want[i + k]) for k in range(4)))
    return d


def kem_writes(tmp):
    cases = [  # codec, suffix, ImageMagick's name for the format, alpha, largest difference
        ("png", "png", "PNG", "varied", 0),
        ("png", "png", "PNG", "none", 0),
        ("bmp", "bmp", "BMP", "varied", 0),
        ("bmp", "bmp", "BMP3", "none", 0),
        ("tiff", "tif", "TIFF", "varied", 0),
        ("tiff", "tif", "TIFF", "none", 0),
        ("gif", "gif", "GIF", "binary", 0),
        ("jpeg", "jpg", "JPEG", "none", 16),
    ]
    for codec, suffix, name, alpha, tolerance in cases:
        label = "Kem writes %s (alpha %s)" % (codec, alpha)
        if codec == "gif":
            want = pattern(alpha, [(200, 10, 10), (10, 200, 10), (0, 0, 200), (90, 90, 90)])
        elif codec == "jpeg":
            want = smooth()
        else:
            want = pattern(alpha)
        code = "i: make image! %dx%d i/argb: data system/codecs/%s/encode i none" % (W, H, codec)
        path = os.path.join(tmp, "kem-%s-%s.%s" % (codec, alpha, suffix))
        with open(path, "wb") as f:
            f.write(kem(code, rgba_to_bgra(want)))
        info = magick("identify", "-format", "%m %w %h", path)[0].decode()
        if info != "%s %d %d" % (name, W, H):
            failures.append("%s: identify says %r" % (label, info))
        if tolerance == 0:
            # ImageMagick's own picture of the same pixels, then its comparison.
            reference = os.path.join(tmp, "reference.png")
            magick("convert", "-size", "%dx%d" % (W, H), "-depth", "8", "rgba:-", reference, data=want)
            counted = subprocess.run(["compare", "-metric", "AE", path, reference, "null:"],
                                     capture_output=True).stderr.decode().strip()
            if counted != "0":
                failures.append("%s: compare counts %s differing pixels" % (label, counted))
        d = worst(pixels_of(path), want)
        if d > tolerance:
            failures.append("%s: pixels differ by %d" % (label, d))


def magick_writes(tmp):
    source = os.path.join(tmp, "source.png")
    magick("convert", "-size", "%dx%d" % (W, H), "-depth", "8", "rgba:-", source, data=pattern("varied"))
    cases = [  # file name, ImageMagick options, largest difference (transparent pixels aside when not 0)
        ("a.png", [], 0),
        ("palette.png", ["-colors", "16", "PNG8:"], 0),
        ("grey.png", ["-colorspace", "gray", "-alpha", "off"], 0),
        ("grey-alpha.png", ["-colorspace", "gray"], 0),
        ("deep.png", ["-depth", "16"], 0),
        ("interlaced.png", ["-interlace", "PNG"], 0),
        ("a.bmp", [], 0),
        ("v3.bmp", ["-alpha", "off", "BMP3:"], 0),
        ("v2.bmp", ["-alpha", "off", "BMP2:"], 0),
        ("palette8.bmp", ["-alpha", "off", "-colors", "200", "-type", "palette", "BMP3:"], 0),
        ("palette4.bmp", ["-alpha", "off", "-colors", "10", "-type", "palette", "BMP3:"], 0),
        ("mono.bmp", ["-alpha", "off", "-monochrome", "BMP3:"], 0),
        ("rle.bmp", ["-alpha", "off", "-colors", "200", "-type", "palette", "-compress", "RLE", "BMP3:"], 0),
        ("565.bmp", ["-alpha", "off", "-define", "bmp:subtype=RGB565"], 0),
        ("555.bmp", ["-alpha", "off", "-define", "bmp:subtype=RGB555"], 0),
        ("a.gif", [], 0),
        ("interlaced.gif", ["-interlace", "GIF"], 0),
        ("a.tif", [], 0),
        ("zip.tif", ["-compress", "zip"], 0),
        ("msb.tif", ["-endian", "MSB"], 0),
        ("grey.tif", ["-colorspace", "gray", "-alpha", "off"], 0),
        ("grey-alpha.tif", ["-colorspace", "gray"], 0),
        # The library's reader rounds 16-bit palette entries its own way.
        ("palette.tif", ["-alpha", "off", "-colors", "16", "-type", "palette"], 1),
        ("jpeg.tif", ["-alpha", "off", "-compress", "jpeg"], 0),
        ("white.tif", ["-alpha", "off", "-monochrome", "-define", "quantum:polarity=min-is-white"], 0),
        ("tiled.tif", ["-define", "tiff:tile-geometry=16x16"], 0),
        ("planar.tif", ["-interlace", "plane"], 0),
        ("deep.tif", ["-depth", "16"], 0),
        ("tiled-planar.tif", ["-define", "tiff:tile-geometry=16x16", "-interlace", "plane"], 0),
        # Premultiplied colour is turned back with rounding of its own.
        ("associated.tif", ["-define", "tiff:alpha=associated"], 1),
        ("a.jpg", ["-alpha", "off"], 0),
        ("grey.jpg", ["-alpha", "off", "-colorspace", "gray"], 0),
        ("progressive.jpg", ["-alpha", "off", "-interlace", "JPEG"], 0),
        ("cmyk.jpg", ["-alpha", "off", "-colorspace", "cmyk"], 0),
    ]
    for name, options, tolerance in cases:
        prefix = ""
        if options and options[-1].endswith(":"):
            prefix = options.pop()
        path = os.path.join(tmp, name)
        magick("convert", source, *options, prefix + path)
        want = pixels_of(path)
        from_file = bgra_to_rgba(kem("i: system/codecs/png/decode %%%s i/argb" % path))
        with open(path, "rb") as f:
            from_memory = bgra_to_rgba(kem("i: system/codecs/jpeg/decode data i/argb", f.read()))
        for how, got in (("file", from_file), ("memory", from_memory)):
            d = worst(got, want, skip_clear=tolerance > 0)
            if d > tolerance:
                failures.append("ImageMagick writes %s, Kem reads it from %s: pixels differ by %d" % (name, how, d))


def main():
    if not shutil.which("convert") or not shutil.which("identify") or not shutil.which("compare"):
        print("ImageMagick is not installed: skipped")
        return 77
    with tempfile.TemporaryDirectory() as tmp:
        kem_writes(tmp)
        magick_writes(tmp)
    for f in failures:
        print("FAIL", f)
    print("%d failures" % len(failures))
    return 1 if failures else 0


sys.exit(main())
