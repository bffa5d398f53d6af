#!/usr/bin/python3
"""Makes the real-file corpus: pictures, movies and sounds written by other
programs (Pillow, ImageMagick, GStreamer, sox), and manifest.tsv, which says
what each file must decode to.

Every expected value comes from an independent decoder (Pillow, ImageMagick,
GStreamer or sox) while this script runs, never from our own code. The
producers run only here; the tests read the committed files and the manifest.

Run from anywhere with Debian's python3 (it has Pillow and numpy):
    /usr/bin/python3 tests/data/real/make_corpus.py
Needs: gst-launch-1.0 with the base and good plugins, /usr/bin/convert
(ImageMagick 6), sox.

Manifest lines are tab-separated; '#' starts a comment line.
  picture <file> <width> <height> <frames> <rate n/d> <source bits> <expect> <tolerance>
      Read in 32-bit mode; <expect> is a comma-separated list of frame
      hashes (exact) or "ref:<file>" naming raw R,G,B bytes of every frame,
      frames back to back, compared within <tolerance> "max/mean": the
      largest difference of one channel and the mean difference over all
      channels. Tolerance "-" means exact.
  sound <file> <rate> <bits> <channels> <bytes> <hash>
      Read in the source's own format; the hash covers the PCM bytes as
      delivered (8-bit unsigned, 16-bit signed little-endian).
  refuse-picture <file> <message>   GFileOpen fails and reports the message
  refuse-sound <file> <message>     SFileOpen fails and reports the message
      ("%s" in a message stands for the name as given).

Samples deeper than 8 bits are expected as their high byte, the
independent decoder's 16-bit value shifted down (48-bit TIFF allows one step
either way: how it narrows them is the TIFF reader's choice). 16-bit BMP
fields are expected widened by a shift, so a 5-bit 31 is 248.

A frame hash is 64-bit FNV-1a over the frame's R, G, B bytes, row by row
from the top row, each row left to right; it is written as 16 hex digits.
The PCM hash is the same function over the bytes.

Variants these producers cannot write, and so are missing here:
- BMP: top-down rows, RLE4, OS/2 headers and 16-bit pixels without bit
  fields (neither Pillow nor ImageMagick writes them).
- PCX: 16 colours in four 1-bit planes (ImageMagick writes 8-bit indices).
- TGA: 15/16-bit pixels.
- AVI: 8-bit video with a palette (avimux takes GRAY8 only as 'Y800', which
  is in the corpus as a file to refuse).
- MP4 from mp4mux: it takes only compressed video and sound (H.264,
  MPEG-4, AAC ...), none of which the reader decodes.
- WAVE: a LIST chunk before 'data' (sox writes none, wavenc writes its LIST
  after the data), and an extensible header for 8 or 16-bit sound of one or
  two channels (sox and wavenc use it only for more bits or channels; a 24-bit
  extensible file is here as a file to refuse).
"""

import math
import os
import shutil
import subprocess
import sys
import tempfile

import numpy as np
from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))
CONVERT = "/usr/bin/convert"  # ImageMagick itself, not a stand-in on the path
W, H = 33, 17  # odd sizes: rows need padding in every format that pads

FNV_OFFSET = 0xCBF29CE484222325
FNV_PRIME = 0x100000001B3


def fnv1a(data):
    h = FNV_OFFSET
    for b in data:
        h ^= b
        h = (h * FNV_PRIME) & 0xFFFFFFFFFFFFFFFF
    return "%016x" % h


def run(*args, **kw):
    return subprocess.run(list(args), check=True, stdout=subprocess.PIPE, **kw).stdout


def out(name):
    return os.path.join(HERE, name)


manifest = []


def picture(name, frames_rgb, bits, rate="15/1", tolerance=None, width=W, height=H):
    """frames_rgb: list of H x W x 3 uint8 arrays from an independent decoder."""
    for f in frames_rgb:
        assert f.shape == (height, width, 3), (name, f.shape)
    if tolerance is None:
        expect = ",".join(fnv1a(f.astype(np.uint8).tobytes()) for f in frames_rgb)
        tol = "-"
    else:
        ref = name + ".ref"
        with open(out(ref), "wb") as fh:
            for f in frames_rgb:
                fh.write(f.astype(np.uint8).tobytes())
        expect = "ref:" + ref
        tol = tolerance
    manifest.append("\t".join(["picture", name, str(width), str(height), str(len(frames_rgb)), rate, str(bits),
                               expect, tol]))


def sound(name, rate, bits, channels, pcm):
    manifest.append("\t".join(["sound", name, str(rate), str(bits), str(channels), str(len(pcm)), fnv1a(pcm)]))


def refuse(kind, name, message):
    manifest.append("\t".join([kind, name, message]))


# ---------------------------------------------------------------- decoders

def pillow_rgb(name):
    with Image.open(out(name)) as im:
        im.load()
        return np.asarray(im.convert("RGB"))


def pillow_frames(name):
    """Every frame of an animation as Pillow composes it, with its delay in hundredths."""
    frames = []
    with Image.open(out(name)) as im:
        for i in range(im.n_frames):
            im.seek(i)
            frames.append((np.asarray(im.convert("RGB")), im.info.get("duration", 0) // 10))
    return frames


def magick_coalesced(name):
    """ImageMagick's composition of every frame: a list of H x W x 3 arrays."""
    raw = run(CONVERT, out(name), "-coalesce", "-depth", "8", "rgb:-")
    a = np.frombuffer(raw, dtype=np.uint8).reshape(-1, H, W, 3)
    return list(a)


def animation(name):
    """The frames a GIF animation plays as a movie: one a picture when the delays
    differ by at most a hundredth, else the shortest delay's rate with each
    picture repeated for as long as its delay lasts (0 and 1 count as 10)."""
    frames = pillow_frames(name)
    for (f, _), m in zip(frames, magick_coalesced(name)):
        agree(name, f, m)
    delays = [d if d >= 2 else 10 for _, d in frames]
    if max(delays) - min(delays) <= 1:
        g = math.gcd(len(frames) * 100, sum(delays))
        return [f for f, _ in frames], "%d/%d" % (len(frames) * 100 // g, sum(delays) // g)
    step, shown, start = min(delays), [], 0
    for (f, _), d in zip(frames, delays):
        while len(shown) * step < start + d:
            shown.append(f)
        start += d
    g = math.gcd(100, step)
    return shown, "%d/%d" % (100 // g, step // g)


def magick_rgb16(name):
    """ImageMagick's decoding at 16 bits per channel: H x W x 3 uint16."""
    raw = run(CONVERT, out(name) + "[0]", "-depth", "16", "-endian", "MSB", "rgb:-")
    a = np.frombuffer(raw, dtype=">u2").reshape(-1, 3)
    return a.reshape(H, -1, 3)


def magick_rgb(name):
    """ImageMagick's decoding at 8 bits: the high byte of each 16-bit sample."""
    return (magick_rgb16(name) >> 8).astype(np.uint8)


def agree(name, a, b):
    if not np.array_equal(a, b):
        sys.exit("decoders disagree on %s" % name)


# ---------------------------------------------------------------- pictures

def source_picture():
    y, x = np.mgrid[0:H, 0:W]
    r = (x * 255 // (W - 1)).astype(np.uint8)
    g = (y * 255 // (H - 1)).astype(np.uint8)
    b = ((x * 7 + y * 11) * 3 % 256).astype(np.uint8)
    rgb = np.dstack([r, g, b])
    alpha = ((x + y) * 255 // (W + H - 2)).astype(np.uint8)
    return rgb, alpha


def make_stills(tmp):
    rgb, alpha = source_picture()
    src = Image.fromarray(rgb, "RGB")
    rgba = Image.fromarray(np.dstack([rgb, alpha]), "RGBA")
    grey = src.convert("L")
    pal256 = src.quantize(colors=200, dither=Image.Dither.NONE)
    pal16 = src.quantize(colors=16, dither=Image.Dither.NONE)
    pal4 = src.quantize(colors=4, dither=Image.Dither.NONE)
    pal2 = src.quantize(colors=2, dither=Image.Dither.NONE)
    mono = grey.point(lambda v: 255 if v > 110 else 0).convert("1", dither=Image.Dither.NONE)
    src_png = os.path.join(tmp, "src.png")
    src.save(src_png)
    rgba_png = os.path.join(tmp, "srca.png")
    rgba.save(rgba_png)
    pal16_png = os.path.join(tmp, "pal16.png")
    pal16.save(pal16_png)
    pal200_png = os.path.join(tmp, "pal200.png")
    pal256.save(pal200_png)
    pal4_png = os.path.join(tmp, "pal4.png")
    pal4.save(pal4_png)

    def pil(name, im, srcbits, **kw):
        im.save(out(name), **kw)
        decoded = pillow_rgb(name)
        # A second decoder must agree; not on TGA, whose origin ImageMagick
        # 6.9.11 ignores, nor on 1-bit PCX, where ImageMagick takes colours
        # from the header's 16-entry table that Pillow fills with a
        # placeholder; there the picture given to Pillow is the check.
        if name.endswith(".tga"):
            pass
        elif name == "pcx_1bit.pcx":
            agree(name, decoded, np.asarray(im.convert("RGB")))
        else:
            agree(name, decoded, magick_rgb(name))
        picture(name, [decoded], srcbits)

    # BMP
    pil("bmp_1bit.bmp", mono, 8)
    run(CONVERT, pal16_png, "-colors", "16", "-type", "Palette", "BMP3:" + out("bmp_4bit.bmp"))
    picture("bmp_4bit.bmp", [pillow_rgb("bmp_4bit.bmp")], 8)
    pil("bmp_8bit.bmp", pal256, 8)
    pil("bmp_grey.bmp", grey, 8)
    run(CONVERT, pal200_png, "-type", "Palette", "-compress", "RLE", "BMP3:" + out("bmp_rle8.bmp"))
    picture("bmp_rle8.bmp", [pillow_rgb("bmp_rle8.bmp")], 8)
    pil("bmp_24bit.bmp", src, 24)
    pil("bmp_32bit_pillow.bmp", rgba, 24)
    run(CONVERT, rgba_png, "-define", "bmp:format=bmp4", "BMP:" + out("bmp_32bit_alpha.bmp"))
    picture("bmp_32bit_alpha.bmp", [pillow_rgb("bmp_32bit_alpha.bmp")], 24)
    # 16-bit: both layouts are widened the same way, by shifting each field
    # up to 8 bits (a 5-bit 31 becomes 248). Pillow scales fields to 255, so
    # its values are turned back into the stored fields and shifted.
    # ImageMagick writes both with bit-field masks in a version 5 header. (Its
    # BMP3 variant claims bit fields after a 40-byte header but leaves the
    # masks out, so no reader takes it, and neither tool writes 16-bit BI_RGB.)
    for name, subtype, gbits in (("bmp_16bit_555.bmp", "RGB555", 5), ("bmp_16bit_565.bmp", "RGB565", 6)):
        run(CONVERT, src_png, "-define", "bmp:subtype=" + subtype, "BMP:" + out(name))
        p = pillow_rgb(name).astype(np.int32)
        widened = np.empty_like(p)
        for c, bits in ((0, 5), (1, gbits), (2, 5)):
            top = (1 << bits) - 1
            field = (p[:, :, c] * top + 127) // 255
            assert np.array_equal(field * 255 // top, p[:, :, c]), name  # Pillow truncates
            widened[:, :, c] = field << (8 - bits)
        picture(name, [widened.astype(np.uint8)], 24)

    # PNG
    pil("png_pal1.png", pal2, 8, bits=1)
    pil("png_pal2.png", pal4, 8, bits=2)
    pil("png_pal4.png", pal16, 8, bits=4)
    pil("png_pal8.png", pal256, 8)
    pal_t = pal16.copy()
    pal_t.info["transparency"] = 3
    pil("png_pal8_transparent.png", pal_t, 8, transparency=3)
    for depth in (1, 2, 4):
        name = "png_grey%d.png" % depth
        run(CONVERT, src_png, "-colorspace", "Gray", "-depth", str(depth), "-define", "png:color-type=0",
            "-define", "png:bit-depth=%d" % depth, out(name))
        with Image.open(out(name)) as im:
            assert im.mode in ("1", "L", "P"), (name, im.mode)
        picture(name, [pillow_rgb(name)], 8)
    pil("png_grey8.png", grey, 8)
    # 16-bit grey: the reader keeps the high byte of each sample.
    g16 = Image.fromarray((np.asarray(grey).astype(np.uint16) * 257 + np.arange(W, dtype=np.uint16)).astype(np.uint16))
    g16.save(out("png_grey16.png"))
    with Image.open(out("png_grey16.png")) as im:
        v = np.asarray(im).astype(np.uint32)
    hi = (v >> 8).astype(np.uint8)
    picture("png_grey16.png", [np.dstack([hi, hi, hi])], 24)
    # Grey with alpha stores 16 bits a pixel, so it counts as deeper than 8.
    pil("png_grey_alpha.png", rgba.convert("LA"), 24)
    # 16-bit grey with alpha, interlaced: grey levels are the samples' high bytes.
    run(CONVERT, rgba_png, "-colorspace", "Gray", "-evaluate", "multiply", "0.997", "-depth", "16",
        "-interlace", "PNG", "-define", "png:color-type=4", "-define", "png:bit-depth=16",
        out("png_grey_alpha16_interlaced.png"))
    picture("png_grey_alpha16_interlaced.png", [magick_rgb("png_grey_alpha16_interlaced.png")], 24)
    pil("png_rgb24.png", src, 24)
    pil("png_rgba32.png", rgba, 24)
    run(CONVERT, src_png, "-evaluate", "multiply", "0.998", "-depth", "16", "PNG48:" + out("png_rgb48.png"))
    picture("png_rgb48.png", [magick_rgb("png_rgb48.png")], 24)
    run(CONVERT, rgba_png, "-evaluate", "multiply", "0.997", "-depth", "16", "PNG64:" + out("png_rgba64.png"))
    picture("png_rgba64.png", [magick_rgb("png_rgba64.png")], 24)
    run(CONVERT, src_png, "-interlace", "PNG", "PNG24:" + out("png_interlaced.png"))
    agree("png_interlaced.png", magick_rgb("png_interlaced.png"), pillow_rgb("png_interlaced.png"))
    picture("png_interlaced.png", [pillow_rgb("png_interlaced.png")], 24)
    run(CONVERT, pal16_png, "-interlace", "PNG", "PNG8:" + out("png_pal_interlaced.png"))
    picture("png_pal_interlaced.png", [pillow_rgb("png_pal_interlaced.png")], 8)

    # GIF
    pil("gif_plain.gif", pal256, 8, interlace=0)
    pil("gif_interlaced.gif", pal256, 8, interlace=1)
    pil("gif_2colour.gif", pal2, 8)
    pil("gif_transparent.gif", pal16, 8, transparency=5)
    # An animation is read as the movie a viewer plays.
    pal256.save(out("gif_animated.gif"), save_all=True, append_images=[pal16, pal4], duration=100, loop=0)
    frames, rate = animation("gif_animated.gif")
    picture("gif_animated.gif", frames, 32, rate)
    # Delays that differ, partial frames over the last (ImageMagick's own
    # optimisation: transparency and smaller rectangles), disposal to the
    # background.
    run(CONVERT, "-delay", "5", pal200_png, "-delay", "20", pal16_png, "-delay", "5", pal4_png, "-dispose",
        "Background", "-delay", "3", pal16_png, "-layers", "Optimize", "-loop", "0", out("gif_magick_delays.gif"))
    frames, rate = animation("gif_magick_delays.gif")
    picture("gif_magick_delays.gif", frames, 32, rate)
    run(CONVERT, pal16_png, "-interlace", "GIF", out("gif_magick_interlaced.gif"))
    picture("gif_magick_interlaced.gif", [pillow_rgb("gif_magick_interlaced.gif")], 8)

    # TGA
    pil("tga_24_bottom_left.tga", src, 24)
    pil("tga_24_top_left.tga", src, 24, orientation=1)
    pil("tga_32_alpha.tga", rgba, 24)
    pil("tga_24_rle.tga", src, 24, compression="tga_rle")
    pil("tga_32_rle_top_left.tga", rgba, 24, compression="tga_rle", orientation=1)
    pil("tga_pal8.tga", pal256, 8)
    pil("tga_pal8_rle.tga", pal16, 8, compression="tga_rle")
    pil("tga_grey.tga", grey, 8)
    # ImageMagick 6.9.11 writes the top row first under a bottom-left origin
    # (and reads every file as if top-left), so by its own header this file
    # is stored upside down; Pillow follows the header.
    run(CONVERT, src_png, "-compress", "RLE", "TGA:" + out("tga_magick_rle.tga"))
    agree("tga_magick_rle.tga", pillow_rgb("tga_magick_rle.tga"), rgb[::-1])
    picture("tga_magick_rle.tga", [pillow_rgb("tga_magick_rle.tga")], 24)

    # TIFF
    pil("tif_rgb.tif", src, 24)
    pil("tif_deflate.tif", src, 24, compression="tiff_adobe_deflate")
    pil("tif_packbits.tif", src, 24, compression="packbits")
    pil("tif_grey8.tif", grey, 8)
    pil("tif_1bit.tif", mono, 8)
    pil("tif_pal8.tif", pal256, 8)
    # Unassociated alpha (ExtraSamples 2): the colours are the stored ones.
    pil("tif_rgba_unassociated.tif", rgba, 24, compression="tiff_adobe_deflate")
    pil("tif_grey_alpha_unassociated.tif", rgba.convert("LA"), 24)
    # The same with separate planes, from ImageMagick.
    run(CONVERT, rgba_png, "-interlace", "Plane", "-define", "tiff:alpha=unassociated",
        "TIFF:" + out("tif_rgba_unassociated_planar.tif"))
    picture("tif_rgba_unassociated_planar.tif", [magick_rgb("tif_rgba_unassociated_planar.tif")], 24)
    run(CONVERT, src_png, "-colorspace", "Gray", "-depth", "4", "-compress", "Zip",
        "TIFF:" + out("tif_grey4.tif"))
    picture("tif_grey4.tif", [magick_rgb("tif_grey4.tif")], 8)
    run(CONVERT, pal16_png, "-type", "Palette", "-depth", "4", "TIFF:" + out("tif_pal4.tif"))
    picture("tif_pal4.tif", [magick_rgb("tif_pal4.tif")], 8)
    g16.save(out("tif_grey16.tif"))
    picture("tif_grey16.tif", [np.dstack([hi, hi, hi])], 24)
    run(CONVERT, src_png, "-interlace", "Plane", "-compress", "Zip", "TIFF:" + out("tif_planar.tif"))
    picture("tif_planar.tif", [magick_rgb("tif_planar.tif")], 24)
    run(CONVERT, src_png, "-define", "tiff:tile-geometry=16x16", "-compress", "Zip", "TIFF:" + out("tif_tiled.tif"))
    picture("tif_tiled.tif", [magick_rgb("tif_tiled.tif")], 24)
    run(CONVERT, src_png, "-colorspace", "Gray", "-define", "tiff:photometric=min-is-white", "-depth", "8",
        "TIFF:" + out("tif_min_is_white.tif"))
    picture("tif_min_is_white.tif", [magick_rgb("tif_min_is_white.tif")], 8)
    # 48-bit: how 16 bits become 8 (high byte or rounded) is the reader's
    # choice, so one step either way is allowed.
    run(CONVERT, src_png, "-evaluate", "multiply", "0.998", "-depth", "16", "-compress", "Zip",
        "TIFF:" + out("tif_rgb48.tif"))
    picture("tif_rgb48.tif", [magick_rgb("tif_rgb48.tif")], 24, tolerance="1/1")
    run(CONVERT, src_png, "-evaluate", "multiply", "0.998", "-depth", "16", "-interlace", "Plane",
        "-define", "tiff:tile-geometry=16x16", "TIFF:" + out("tif_rgb48_planar_tiled.tif"))
    picture("tif_rgb48_planar_tiled.tif", [magick_rgb("tif_rgb48_planar_tiled.tif")], 24, tolerance="1/1")
    # LZW is refused by the TIFF kind, and no other kind takes the file.
    src.save(out("tif_lzw.tif"), compression="tiff_lzw")
    refuse("refuse-picture", "tif_lzw.tif", "Error opening: %s")

    # JPEG: lossy, so compared with Pillow's decoding within a tolerance.
    for name, im, kw in (("jpg_baseline.jpg", src, {"quality": 90}),
                         ("jpg_progressive.jpg", src, {"quality": 90, "progressive": True}),
                         ("jpg_grey.jpg", grey, {"quality": 90})):
        im.save(out(name), **kw)
        picture(name, [pillow_rgb(name)], 24 if im.mode == "RGB" else 8, tolerance="6/1")
    run(CONVERT, src_png, "-quality", "85", "-sampling-factor", "1x1", "-interlace", "JPEG",
        out("jpg_magick_progressive_444.jpg"))
    picture("jpg_magick_progressive_444.jpg", [pillow_rgb("jpg_magick_progressive_444.jpg")], 24, tolerance="6/1")
    run(CONVERT, src_png, "-quality", "85", "-define", "jpeg:restart-interval=1", out("jpg_magick_restarts.jpg"))
    picture("jpg_magick_restarts.jpg", [pillow_rgb("jpg_magick_restarts.jpg")], 24, tolerance="6/1")
    run(CONVERT, src_png, "-quality", "90", "-colorspace", "CMYK", out("jpg_magick_cmyk.jpg"))
    picture("jpg_magick_cmyk.jpg", [pillow_rgb("jpg_magick_cmyk.jpg")], 24, tolerance="6/1")

    # PCX
    pil("pcx_1bit.pcx", mono, 8)
    pil("pcx_pal8.pcx", pal256, 8)
    pil("pcx_rgb24.pcx", src, 24)
    run(CONVERT, pal16_png, "-type", "Palette", "PCX:" + out("pcx_magick_pal.pcx"))
    picture("pcx_magick_pal.pcx", [pillow_rgb("pcx_magick_pal.pcx")], 8)
    run(CONVERT, src_png, "PCX:" + out("pcx_magick_rgb24.pcx"))
    picture("pcx_magick_rgb24.pcx", [pillow_rgb("pcx_magick_rgb24.pcx")], 24)
    # ImageMagick writes a two-colour picture as three planes of 8 bits.
    run(CONVERT, src_png, "-monochrome", "PCX:" + out("pcx_magick_mono.pcx"))
    with open(out("pcx_magick_mono.pcx"), "rb") as fh:
        head = fh.read(66)
    picture("pcx_magick_mono.pcx", [pillow_rgb("pcx_magick_mono.pcx")], 8 if head[3] * head[65] <= 8 else 24)


# ---------------------------------------------------------------- movies

FRAMES = 4
RATE = 10


def gst(*pipeline):
    run("gst-launch-1.0", "-q", *" ".join(pipeline).split())


def video_src(fmt, width=W):
    return ("videotestsrc num-buffers=%d pattern=smpte horizontal-speed=3 ! "
            "video/x-raw,format=%s,width=%d,height=%d,framerate=%d/1" % (FRAMES, fmt, width, H, RATE))


def audio_src(fmt, rate, channels, seconds_frames=FRAMES):
    samples = rate * seconds_frames // RATE
    return ("audiotestsrc num-buffers=1 samplesperbuffer=%d wave=sine freq=440 volume=0.5 ! "
            "audio/x-raw,format=%s,rate=%d,channels=%d,layout=interleaved" % (samples, fmt, rate, channels))


def decoded_raw_frames(name, demux, width, tmp):
    """Frames of a movie's video, demuxed and converted by GStreamer."""
    raw = os.path.join(tmp, "frames.rgbx")
    gst("filesrc location=%s ! %s name=d d.video_0 ! queue ! videoconvert ! video/x-raw,format=RGBx ! "
        "filesink location=%s" % (out(name), demux, raw))
    a = np.fromfile(raw, dtype=np.uint8).reshape(-1, H, width, 4)
    return [f[:, :, :3].copy() for f in a]


def demuxed_stills(name, demux, ext, tmp):
    """Each coded frame of a movie written out by GStreamer, decoded by Pillow."""
    d = tempfile.mkdtemp(dir=tmp)
    gst("filesrc location=%s ! %s name=d d.video_0 ! queue ! multifilesink location=%s/f%%03d.%s" %
        (out(name), demux, d, ext))
    files = sorted(os.listdir(d))
    frames = []
    for f in files:
        with Image.open(os.path.join(d, f)) as im:
            frames.append(np.asarray(im.convert("RGB")))
    return frames


def decoded_pcm(name, demux, fmt, rate, channels, tmp):
    raw = os.path.join(tmp, "sound.raw")
    # Without dithering: audioconvert otherwise adds noise even from S8 to U8.
    gst("filesrc location=%s ! %s name=d d.audio_0 ! queue ! audioconvert dithering=none noise-shaping=none ! "
        "audio/x-raw,format=%s,rate=%d,channels=%d ! filesink location=%s" %
        (out(name), demux, fmt, rate, channels, raw))
    with open(raw, "rb") as fh:
        return fh.read()


def make_movies(tmp):
    # QuickTime from qtmux: raw, JPEG and PNG video, with twos, sowt and raw
    # (8-bit unsigned) sound; qtmux stores signed 8-bit sound as 'sowt'. qtmux puts a data handler 'hdlr' inside 'minf'.
    qt = (("qt_raw_twos.mov", "RGB", "", "S16BE", 11025, 2, 16),
          ("qt_jpeg_sowt.mov", "I420", "jpegenc quality=90 !", "S16LE", 8000, 1, 16),
          ("qt_png_raw8.mov", "RGB", "pngenc !", "U8", 11025, 2, 8),
          ("qt_raw_sowt8.mov", "RGB", "", "S8", 8000, 1, 8))
    for name, vfmt, enc, afmt, rate, ch, bits in qt:
        gst(video_src(vfmt), "!", enc, "queue ! qtmux name=m ! filesink location=" + out(name),
            audio_src(afmt, rate, ch), "! queue ! m.")
        if "jpeg" in name:
            picture(name, demuxed_stills(name, "qtdemux", "jpg", tmp), 32, "%d/1" % RATE, tolerance="6/1")
        elif "png" in name:
            picture(name, demuxed_stills(name, "qtdemux", "png", tmp), 32, "%d/1" % RATE)
        else:
            picture(name, decoded_raw_frames(name, "qtdemux", W, tmp), 32, "%d/1" % RATE)
        sound(name, rate, bits, ch, decoded_pcm(name, "qtdemux", "S16LE" if bits == 16 else "U8", rate, ch, tmp))
    # The movie atom ahead of the media data.
    gst(video_src("RGB"), "! qtmux faststart=true ! filesink location=" + out("qt_raw_faststart.mov"))
    picture("qt_raw_faststart.mov", decoded_raw_frames("qt_raw_faststart.mov", "qtdemux", W, tmp), 32, "%d/1" % RATE)
    # A movie with sound only.
    gst(audio_src("S16BE", 8000, 1), "! qtmux ! filesink location=" + out("qt_sound_only.mov"))
    sound("qt_sound_only.mov", 8000, 16, 1, decoded_pcm("qt_sound_only.mov", "qtdemux", "S16LE", 8000, 1, tmp))
    # 24 and 32-bit sound is played as 16-bit: the two most significant bytes
    # of each sample that GStreamer decodes.
    for name, fmt, width, ch in (("qt_sound_s24_sowt.mov", "S24LE", 3, 2), ("qt_sound_s32_twos.mov", "S32BE", 4, 1)):
        gst(audio_src(fmt, 8000, ch), "! qtmux ! filesink location=" + out(name))
        wide = decoded_pcm(name, "qtdemux", fmt.replace("BE", "LE"), 8000, ch, tmp)
        samples = np.frombuffer(wide, dtype=np.uint8).reshape(-1, width)
        sound(name, 8000, 16, ch, samples[:, width - 2:].tobytes())

    # AVI from avimux: 24 and 32-bit DIBs (odd widths), Motion JPEG, PCM
    # 8/16-bit mono/stereo.
    avi = (("avi_bgr24_s16_stereo.avi", "BGR", W, "", "S16LE", 11025, 2, 16, 24),
           ("avi_bgr24_odd_u8_mono.avi", "BGR", 31, "", "U8", 8000, 1, 8, 24),
           ("avi_bgrx32_u8_stereo.avi", "BGRx", W, "", "U8", 11025, 2, 8, 32),
           ("avi_bgra32_s16_mono.avi", "BGRA", 35, "", "S16LE", 22050, 1, 16, 32),
           ("avi_mjpeg_s16_mono.avi", "I420", W, "jpegenc quality=90 !", "S16LE", 8000, 1, 16, 24))
    for name, vfmt, width, enc, afmt, rate, ch, bits, vbits in avi:
        gst(video_src(vfmt, width), "!", enc, "queue ! avimux name=m ! filesink location=" + out(name),
            audio_src(afmt, rate, ch), "! queue ! m.")
        if "mjpeg" in name:
            picture(name, demuxed_stills(name, "avidemux", "jpg", tmp), vbits, "%d/1" % RATE, tolerance="6/1")
        else:
            picture(name, decoded_raw_frames(name, "avidemux", width, tmp), vbits, "%d/1" % RATE, width=width)
        sound(name, rate, bits, ch, decoded_pcm(name, "avidemux", afmt, rate, ch, tmp))
    # 24-bit sound and grey 'Y800' video our AVI reader does not decode; they
    # are read through GStreamer, the sound as 16 bits without dither.
    gst(video_src("BGR"), "! queue ! avimux name=m ! filesink location=" + out("avi_s24_sound.avi"),
        audio_src("S24LE", 8000, 1), "! queue ! m.")
    sound("avi_s24_sound.avi", 8000, 16, 1, decoded_pcm("avi_s24_sound.avi", "avidemux", "S16LE", 8000, 1, tmp))
    # H.264 High 4:4:4: openh264, the H.264 decoder of the plugin sets, has none.
    gst(video_src("Y444"), "! x264enc ! mp4mux ! filesink location=" + out("mp4_h264_high444.mp4"))
    refuse("refuse-picture", "mp4_h264_high444.mp4", "%s: no decoder for H.264 (High 4:4:4 Profile) is installed "
           "(Debian package gstreamer1.0-plugins-bad)")
    gst(video_src("GRAY8"), "! avimux ! filesink location=" + out("avi_y800.avi"))
    picture("avi_y800.avi", decoded_raw_frames("avi_y800.avi", "avidemux", W, tmp), 32, "%d/1" % RATE)


# ---------------------------------------------------------------- sound

def sox_pcm(name, bits):
    enc = ["-e", "signed-integer", "-b", "16", "-L"] if bits == 16 else ["-e", "unsigned-integer", "-b", "8"]
    return run("sox", "-D", "-R", out(name), "-t", "raw", *enc, "-")


def make_sounds(tmp):
    # sox runs without dither (-D) and with fixed random numbers (-R), so the
    # files come out the same on every run.
    # An odd number of 8-bit samples: the data chunk is followed by a pad byte.
    run("sox", "-D", "-R", "-r", "11025", "-n", "-r", "11025", "-b", "8", "-c", "1", out("wav_u8_mono_odd.wav"),
        "synth", "1001s", "sine", "440", "vol", "0.5")
    run("sox", "-D", "-R", "-r", "22050", "-n", "-r", "22050", "-b", "16", "-c", "2", out("wav_s16_stereo.wav"),
        "synth", "0.05", "sine", "300", "sine", "500", "vol", "0.5")
    run("sox", "-D", "-R", "-r", "8000", "-n", "-r", "8000", "-b", "8", "-c", "2", out("wav_u8_stereo.wav"),
        "synth", "301s", "sine", "300", "square", "200", "vol", "0.5")
    for name, bits, ch in (("wav_u8_mono_odd.wav", 8, 1), ("wav_s16_stereo.wav", 16, 2), ("wav_u8_stereo.wav", 8, 2)):
        rate = int(run("soxi", "-r", out(name)))
        sound(name, rate, bits, ch, sox_pcm(name, bits))
    # wavenc writes the tags as a LIST chunk after the data.
    gst(audio_src("S16LE", 8000, 1), "! taginject tags=title=corpus,artist=gstreamer ! wavenc ! filesink location=" +
        out("wav_list_after_data.wav"))
    with open(out("wav_list_after_data.wav"), "rb") as fh:
        body = fh.read()
    assert body.find(b"LIST") > body.find(b"data") > 0
    sound("wav_list_after_data.wav", 8000, 16, 1, sox_pcm("wav_list_after_data.wav", 16))
    # 24-bit sound (sox writes it with an extensible header) is not played.
    run("sox", "-D", "-R", "-r", "8000", "-n", "-r", "8000", "-b", "24", "-c", "1", out("wav_s24_extensible.wav"),
        "synth", "50s", "sine", "300")
    with open(out("wav_s24_extensible.wav"), "rb") as fh:
        assert fh.read(22)[20:22] == b"\xfe\xff"
    refuse("refuse-sound", "wav_s24_extensible.wav", "Error opening the audio input file.")


def main():
    for f in os.listdir(HERE):
        if f not in ("make_corpus.py",):
            os.remove(out(f))
    tmp = tempfile.mkdtemp()
    try:
        make_stills(tmp)
        make_movies(tmp)
        make_sounds(tmp)
    finally:
        shutil.rmtree(tmp)
    with open(out("manifest.tsv"), "w") as fh:
        fh.write("# Made by make_corpus.py; see there for the format. Do not edit by hand.\n")
        fh.write("\n".join(manifest) + "\n")


if __name__ == "__main__":
    main()
