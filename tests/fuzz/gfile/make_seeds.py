#!/usr/bin/env python3
"""Writes the seed inputs of the graphics-input fuzz targets into corpus/open
and corpus/list: small files from tests/data, each behind the switch bytes
that fuzz_settings.cpp reads, so that the fuzzer starts from conversions that
reach rate changes, scaling, filters, deinterlacing and 8-bit palettes.
Run it again only to change the seeds; the files it writes are committed."""
import pathlib
import struct

HERE = pathlib.Path(__file__).resolve().parent
DATA = HERE.parents[1] / "data"

# Indices into the tables of fuzz_settings.cpp.
RATES = ["", "10", "15", "5", "20", "25", "29.97", "30;1.001", "7.5", "-100", "-40", "-200000", "-3333", "12",
         "1", "60"]
SIZES = ["", "-1", "16", "33", "64", "1", "7", "-0.5", "-2", "-3", "-1.5", "-0.25", "48", "-1", "0", "2"]


MODES = [0, 0, 0, 0, 1, 2, 3, 7]
COLOURS = [16, 64, 2, 1, 8, 32, 48, 4]


def settings(mode=0, filt=0, qt=0, halve_w=0, halve_h=0, deint=0, blend=0, soften=0, threshold=0, rate_in="",
             rate_out="", first=0, span=0, width="", height="", canvas=(0, 0), place=(None, None), contrast=0,
             brightness=0, gamma=0, method=0, option=0, palette_file=0, scale=0, colours=64, first_colour=0,
             reserved=0, frames=8, again=0, cancel=0):
    def canvas_byte(v):
        return 0 if not v else 128 | (v - 1)

    def place_byte(v):
        return 0 if v is None else 128 | (v + 32)

    return bytes([
        MODES.index(mode) | filt << 3 | qt << 5 | halve_w << 6 | halve_h << 7,
        deint | blend << 2 | soften << 3 | threshold << 6,
        RATES.index(rate_in) | RATES.index(rate_out) << 4,
        first | span << 4,
        SIZES.index(width) | SIZES.index(height) << 4,
        canvas_byte(canvas[0]),
        canvas_byte(canvas[1]),
        place_byte(place[0]),
        place_byte(place[1]),
        contrast | brightness << 3,
        gamma | method << 3 | option << 5 | palette_file << 7,
        scale | COLOURS.index(colours) << 2 | first_colour << 5 | (reserved & 1) << 7,
        (frames - 1) | again << 3 | cancel << 4 | (reserved >> 1) << 7,
    ])


def raw_frames(width=4, height=3, count=3, period=10000):
    """A house raw frame file: a palette in the first frame, then pixels."""
    out = bytearray(b"RAWB" + struct.pack("<IIIi", count, width, height, period))
    for f in range(count):
        if f == 0:
            out += struct.pack("<I", 0) + bytes((i * 7 + c * 50) & 255 for i in range(256) for c in range(3))
        out += struct.pack("<I", 1) + bytes((f * 16 + i) & 255 for i in range(width * height))
    return bytes(out)


def data(path):
    return (DATA / path).read_bytes()


OPEN = {
    "flic-8bit-rate-double-range": settings(mode=2, rate_in="10", rate_out="20", first=2, span=4, width="16",
                                            height="-1"),
    "flic-halved-rate-half-filter1": settings(filt=1, halve_w=1, rate_out="5", soften=2, contrast=2),
    "gif-true-colour-doubled-gamma": settings(width="-2", height="-2", gamma=2, brightness=2, again=1),
    "png-8bit-palette-file-16-colours": settings(mode=1, palette_file=1, colours=16, first_colour=2, method=1),
    "bmp-canvas-margins-filter2": settings(filt=2, canvas=(24, 20), place=(-4, -3), soften=3),
    "tga-deinterlace-blend-soften": settings(deint=1, blend=1, soften=3, threshold=2),
    "avi-8bit-deinterlace-odd-scaled": settings(mode=3, deint=2, width="33", height="7", option=1),
    "mov-quicktime-canvas-cut": settings(qt=1, canvas=(8, 6), place=(3, 2), rate_in="-40", rate_out="-100"),
    "zanther-rate-periods-8bit-reserve": settings(mode=1, rate_out="-3333", reserved=1, scale=1, frames=4),
    "vorn-half-size-contrast": settings(width="-0.5", height="-0.5", contrast=3, brightness=3),
    "wave-sound-only": settings(frames=2),
    "raw-frames-range-from-2": settings(mode=2, first=2, span=2, rate_out="60", halve_h=1),
    "pcx-cancel-after-first-message": settings(mode=7, cancel=1),
    "tif-8bit-analysis-scale-low": settings(mode=1, scale=2, colours=8, deint=1),
}
OPEN_FILES = {
    "flic-8bit-rate-double-range": data("flic/all_chunk_types.fli"),
    "flic-halved-rate-half-filter1": data("flic/prefix_chunk.flc"),
    "gif-true-colour-doubled-gamma": data("stillimage/pal8.gif"),
    "png-8bit-palette-file-16-colours": data("stillimage/rgb24.png"),
    "bmp-canvas-margins-filter2": data("stillimage/rle8.bmp"),
    "tga-deinterlace-blend-soften": data("stillimage/rgb24.tga"),
    "avi-8bit-deinterlace-odd-scaled": data("avi/paletted_with_sound.avi"),
    "mov-quicktime-canvas-cut": data("quicktime/raw_video_twos_sound.mov"),
    "zanther-rate-periods-8bit-reserve": data("zanther/corpus/v2.znt"),
    "vorn-half-size-contrast": data("vornfile/corpus/ring_alpha_sound.vrn"),
    "wave-sound-only": data("sfile/mono8.wav"),
    "raw-frames-range-from-2": raw_frames(),
    "pcx-cancel-after-first-message": data("stillimage/pal8.pcx"),
    "tif-8bit-analysis-scale-low": data("stillimage/pal8deflate.tif"),
}

EXTENSIONS = [".dat", ".png", ".bmp", ".avi", ".mov", ".flc", ".wav", ".exe"]
STYLES = ["lines", "pattern", "pattern-blank", "pattern-switches", "pattern-single", "lines-and-pattern",
          "pattern-past-end", "missing-entry"]


def shape(pieces, ext, style, comment=0, blank=0, crlf=0, trailing=0, indent=0, lines=(0, 0, 0)):
    return bytes([pieces | EXTENSIONS.index(ext) << 2 | STYLES.index(style) << 5,
                  comment | blank << 1 | crlf << 2 | trailing << 3 | indent << 4]) + bytes(lines)


def entry(first=0, span=0, plays=0):
    """A list line's /S (index into the target's table), /E span and /L."""
    return first | span << 3 | plays << 6


SEP = b"=KAV="
PNGS = [data("stillimage/rgb24.png"), data("stillimage/pal8.png"), data("stillimage/rgb24.png")]
LIST = {
    "pngs-pattern-8bit-halved": (settings(mode=1, halve_w=1, halve_h=1, frames=3), shape(3, ".png", "pattern"),
                                 PNGS),
    "bmps-lines-8bit-canvas": (settings(mode=1, canvas=(20, 16), frames=4),
                               shape(3, ".bmp", "lines", comment=1, blank=1, lines=(entry(plays=2), 0, 0)),
                               [data("stillimage/rgb24.bmp"), data("stillimage/rle8.bmp"),
                                data("stillimage/pal8.bmp")]),
    "flics-lines-ranges-plays": (settings(mode=2, rate_out="5"),
                                 shape(2, ".flc", "lines", crlf=1, trailing=1,
                                       lines=(entry(first=2, span=2), entry(span=1, plays=3), 0)),
                                 [data("flic/all_chunk_types.fli"), data("flic/prefix_chunk.flc")]),
    "stills-pattern-blank-contrast": (settings(contrast=3, width="16", height="-1"),
                                      shape(2, ".dat", "pattern-blank", indent=1),
                                      [data("stillimage/pal8.gif"), data("stillimage/rgb24.tga")]),
    "avi-and-wave-lines-deinterlace": (settings(deint=1, blend=1, rate_in="15"),
                                       shape(2, ".dat", "lines-and-pattern"),
                                       [data("avi/paletted_with_sound.avi"), data("sfile/mono8.wav")]),
    "raw-pattern-switches-first-frame": (settings(first=3, span=3, mode=1, palette_file=1),
                                         shape(2, ".dat", "pattern-switches"), [raw_frames(), raw_frames(6, 5, 2)]),
    "mov-single-pattern-scaled": (settings(qt=1, width="-2", height="-1", filt=2),
                                  shape(1, ".mov", "pattern-single"), [data("quicktime/raw_video_twos_sound.mov")]),
    "pcx-missing-entry": (settings(frames=3), shape(2, ".dat", "missing-entry"),
                          [data("stillimage/pal8.pcx"), data("stillimage/rgb24.pcx")]),
}


# Inputs that broke the graphics input, kept as regression files.
LIST.update({
    # Doubling the rate of a numbered sequence: the list delivered fewer
    # frames than it measured and converted rows from the closed entry's frame.
    "use-after-free-sequence-rate-doubled": (settings(rate_in="10", rate_out="20", frames=8),
                                             shape(3, ".png", "pattern"), PNGS),
})


def main():
    for folder in ("open", "list"):
        (HERE / "corpus" / folder).mkdir(parents=True, exist_ok=True)
    for name, head in OPEN.items():
        (HERE / "corpus" / "open" / name).write_bytes(b"KAVS" + head + b"\0" + OPEN_FILES[name])
    for name, (head, form, files) in LIST.items():
        (HERE / "corpus" / "list" / name).write_bytes(head + form + SEP.join(files))


if __name__ == "__main__":
    main()
