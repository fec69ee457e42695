#!/usr/bin/env python3
"""Writes the feature pages of this folder: one small Letter page per drawing feature, each a PDF
written operator by operator so that the page shows the feature and nothing else.

    tests/pages/make_feature_pages.py [NAME...]    # every page, or the named ones

Each page fills much of the sheet with its feature, so that drawing it wrongly changes a good share
of the page's patches, not a few pixels. The pages are kept in the tree; pages.tsv lists them with
the bound each meets. Text uses Helvetica, which no page embeds: the printer's renderer and the
viewer that reads the job back substitute the same system font for it."""

import math
import os
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
LETTER = "0 0 612 792"


class Pdf:
    """Objects numbered from 1, the catalogue and the page tree added by page()."""

    def __init__(self):
        self.objects = []

    def add(self, body):
        self.objects.append(body.encode("latin-1") if isinstance(body, str) else body)
        return len(self.objects)

    def stream(self, entries, data, compress=False):
        if isinstance(data, str):
            data = data.encode("latin-1")
        if compress:
            data = zlib.compress(data)
            entries += " /Filter /FlateDecode"
        head = "<< %s /Length %d >>\nstream\n" % (entries, len(data))
        return self.add(head.encode("latin-1") + data + b"\nendstream")

    def page(self, content, resources="", media=LETTER, extra=""):
        contents = self.stream("", content)
        pages = len(self.objects) + 2
        page = self.add("<< /Type /Page /Parent %d 0 R /MediaBox [%s] /Resources << %s >> /Contents %d 0 R %s >>"
                        % (pages, media, resources, contents, extra))
        self.add("<< /Type /Pages /Kids [%d 0 R] /Count 1 >>" % page)
        return self.add("<< /Type /Catalog /Pages %d 0 R >>" % (page + 1))

    def bytes(self, catalog):
        out = bytearray(b"%PDF-1.7\n%\xe2\xe3\xcf\xd3\n")
        offsets = []
        for number, body in enumerate(self.objects, start=1):
            offsets.append(len(out))
            out += b"%d 0 obj\n" % number + body + b"\nendobj\n"
        xref = len(out)
        out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(self.objects) + 1)
        for offset in offsets:
            out += b"%010d 00000 n \n" % offset
        out += b"trailer\n<< /Size %d /Root %d 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(self.objects) + 1, catalog,
                                                                                 xref)
        return bytes(out)


def simple(content, resources="", media=LETTER, extra=""):
    pdf = Pdf()
    return pdf.bytes(pdf.page(content, resources, media, extra))


HELVETICA = "/Font << /F1 << /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >> >>"


def caps():
    # Short thick strokes in rows, butt, round and projecting ends; the round and projecting rows
    # also run slanted, where a projecting end's corners stand out furthest.
    ops = ["0 0 0.6 RG 30 w"]
    for cap in range(3):
        for row in range(3):
            y = 700 - 230 * cap - 60 * row
            ops.append("%d J" % cap)
            for column in range(7):
                x = 70 + 75 * column
                if row < 2:
                    ops.append("%d %d m %d %d l S" % (x, y, x + 15, y))
                else:
                    ops.append("%d %d m %d %d l S" % (x, y - 10, x + 12, y + 12))
    return simple("\n".join(ops))


def joins():
    # Thick zigzags of each join, their corners sharp and blunt.
    ops = ["0.1 0.4 0.1 RG 22 w 0 J"]
    for join in range(3):
        y = 600 - 230 * join
        ops.append("%d j" % join)
        points = []
        for i in range(9):
            points.append((70 + 60 * i, y + (120 if i % 2 else 0) - 30 * (i // 6)))
        ops.append("%d %d m " % points[0] + " ".join("%d %d l" % p for p in points[1:]) + " S")
    return simple("\n".join(ops))


def miter_limit():
    # Corners of angles from 15 to 100 degrees, mitred under limits of 1.5, 2 and 10: each corner
    # is mitred or bevelled by whether its miter length passes the limit.
    ops = ["0.5 0 0 RG 16 w 0 j 0 J"]
    for row, limit in enumerate((1.5, 2, 10)):
        ops.append("%g M" % limit)
        y = 700 - 230 * row
        for column, angle in enumerate((15, 30, 50, 70, 100)):
            x = 80 + 115 * column
            half = math.radians(angle) / 2
            arm = 80
            ops.append("%.2f %.2f m %d %d l %.2f %.2f l S" % (x - arm * math.sin(half), y - arm * math.cos(half), x, y,
                                                             x + arm * math.sin(half), y - arm * math.cos(half)))
    return simple("\n".join(ops))


def dashes():
    # Dash arrays and phases on thick lines: a phase inside a dash, one inside a gap, an odd-length
    # array and one of four entries, under butt, round and projecting ends; below, rows of short
    # lines whose phase lands exactly where a dash ends: each starts with its gap, no dot.
    patterns = [("[40 20] 0", 0), ("[40 20] 15", 0), ("[40 20] 50", 0), ("[30] 0", 0), ("[36 12 6 12] 8", 0),
                ("[30 30] 45", 1), ("[24 24] 60", 2), ("[0 30] 0", 1)]
    ops = ["0.2 0.2 0.2 RG 14 w"]
    for i, (dash, cap) in enumerate(patterns):
        y = 730 - 50 * i
        ops.append("%s d %d J" % (dash, cap))
        ops.append("60 %d m 550 %d l S" % (y, y))
    ops.append("16 w")
    for row in range(9):
        y = 320 - 32 * row
        ops.append("[30 30] %d d %d J" % (30 if row % 2 else 90, 1 + row % 2))
        for column in range(4):
            x = 60 + 130 * column
            ops.append("%d %d m %d %d l S" % (x, y, x + 90, y))
    return simple("\n".join(ops))


def square_with_hole(x, y, size, hole):
    """A square and a square hole inside it, both drawn counter-clockwise: nonzero fills the hole,
    even-odd leaves it open."""
    inset = (size - hole) / 2
    return ("%g %g m %g %g l %g %g l %g %g l h " % (x, y, x + size, y, x + size, y + size, x, y + size)
            + "%g %g m %g %g l %g %g l %g %g l h" % (x + inset, y + inset, x + inset + hole, y + inset,
                                                     x + inset + hole, y + inset + hole, x + inset, y + inset + hole))


def star(cx, cy, r):
    points = [(cx + r * math.sin(math.radians(144 * i)), cy + r * math.cos(math.radians(144 * i))) for i in range(5)]
    return "%.2f %.2f m " % points[0] + " ".join("%.2f %.2f l" % p for p in points[1:]) + " h"


def fill_rules():
    # The same square-with-a-hole and five-pointed star filled even-odd (left) and nonzero (right).
    ops = ["0.8 0.1 0.1 rg",
           square_with_hole(50, 430, 240, 140) + " f*",
           square_with_hole(322, 430, 240, 140) + " f",
           star(170, 230, 140) + " f*",
           star(442, 230, 140) + " f"]
    return simple("\n".join(ops))


def clip_rules():
    # A page-wide fill through a square-with-a-hole clip, even-odd above (the hole stays paper) and
    # nonzero below (the hole is painted), and a star clip each way.
    ops = ["q", square_with_hole(60, 420, 300, 200) + " W* n", "0.1 0.3 0.8 rg 0 0 612 792 re f", "Q",
           "q", star(480, 560, 110) + " W* n", "0.1 0.3 0.8 rg 0 0 612 792 re f", "Q",
           "q", square_with_hole(60, 60, 300, 200) + " W n", "0.1 0.6 0.3 rg 0 0 612 792 re f", "Q",
           "q", star(480, 200, 110) + " W n", "0.1 0.6 0.3 rg 0 0 612 792 re f", "Q"]
    return simple("\n".join(ops))


def circle(cx, cy, r):
    k = 0.5523 * r
    return ("%g %g m %g %g %g %g %g %g c %g %g %g %g %g %g c %g %g %g %g %g %g c %g %g %g %g %g %g c h"
            % (cx + r, cy, cx + r, cy + k, cx + k, cy + r, cx, cy + r, cx - k, cy + r, cx - r, cy + k, cx - r, cy,
               cx - r, cy - k, cx - k, cy - r, cx, cy - r, cx + k, cy - r, cx + r, cy - k, cx + r, cy))


def nested_clips():
    # A rectangle clip, a circle clip inside it and a turned square inside that: each fill is cut by
    # every clip in force, and each restore brings the wider clip back.
    ops = ["q 80 120 450 560 re W n",
           "0.9 0.8 0.2 rg 0 0 612 792 re f",
           "q", circle(306, 400, 200) + " W n",
           "0.2 0.5 0.8 rg 0 0 612 792 re f",
           "q 0.7071 0.7071 -0.7071 0.7071 306 400 cm -130 -130 260 260 re W n",
           "0.8 0.2 0.2 rg -400 -400 800 800 re f",
           "Q",
           "0 0.4 0 rg 0 380 612 40 re f",
           "Q",
           "0.3 0.3 0.3 rg 0 100 612 40 re f",
           "Q",
           "0 0 0 rg 40 40 532 20 re f"]
    return simple("\n".join(ops))


def text_scaling():
    # Lines of large text squeezed and stretched by Tz, and one at its natural width.
    ops = ["BT /F1 64 Tf 0.1 0.1 0.5 rg"]
    for i, scale in enumerate((100, 50, 150, 75, 200)):
        ops.append("1 0 0 1 40 %d Tm %d Tz (Wide HM) Tj" % (680 - 140 * i, scale))
    ops.append("ET")
    return simple("\n".join(ops), HELVETICA)


def text_spacing():
    # Character spacing (Tc), word spacing (Tw, on the spaces of single-byte text), rise (Ts) and
    # leading (TL with T*, ' and ").
    ops = ["BT /F1 36 Tf 0 0 0 rg",
           "50 700 Td 0 Tc (A B C D E F) Tj",
           "0 -70 Td 12 Tc (A B C D E F) Tj",
           "0 -70 Td 0 Tc 30 Tw (A B C D E F) Tj",
           "0 -70 Td 0 Tw (AB) Tj 14 Ts (CD) Tj -12 Ts (EF) Tj 0 Ts",
           "0 -70 Td 54 TL (HIJ KLM) Tj T* (NOP QRS) Tj (TUV) ' 20 6 (WX YZ) \"",
           "ET"]
    return simple("\n".join(ops), HELVETICA)


def text_render_modes():
    # Large glyphs filled, stroked, both, and invisible, then the clip modes: the glyph outlines
    # made the clip of a striped fill, alone (7) and with filling (4).
    ops = ["BT /F1 80 Tf 3 w 0.8 0 0 rg 0 0 0.7 RG",
           "40 680 Td 0 Tr (Fill) Tj",
           "300 0 Td 1 Tr (Line) Tj",
           "-300 -130 Td 2 Tr (Both) Tj",
           "300 0 Td 3 Tr (Gone) Tj",
           "ET q BT /F1 80 Tf 40 420 Td 7 Tr (CLIP) Tj ET",
           "0 0.5 0 rg " + " ".join("0 %d 612 6 re" % y for y in range(412, 482, 10)) + " f Q",
           "q BT /F1 80 Tf 0.8 0 0 rg 40 290 Td 4 Tr (MASK) Tj ET",
           "0 0 0.8 rg " + " ".join("%d 280 8 80 re" % x for x in range(30, 330, 16)) + " f Q",
           "BT /F1 40 Tf 0 0 0 rg 0 Tr 40 150 Td (after the clips) Tj ET"]
    return simple("\n".join(ops), HELVETICA)


def text_turned():
    # Text turned by a quarter, by 30 degrees and upside down, slanted, and mirrored.
    c, s = math.cos(math.radians(30)), math.sin(math.radians(30))
    ops = ["BT /F1 48 Tf 0.2 0.2 0.2 rg",
           "0 1 -1 0 560 120 Tm (Quarter turn) Tj",
           "%.4f %.4f %.4f %.4f 60 120 Tm (Thirty degrees) Tj" % (c, s, -s, c),
           "-1 0 0 -1 480 700 Tm (Upside) Tj",
           "1 0 0.5 1 60 560 Tm (Slanted) Tj",
           "1 0 -0.4 1 60 460 Tm (Backwards) Tj",
           "-1 0 0 1 480 360 Tm (Mirror) Tj",
           "ET"]
    return simple("\n".join(ops), HELVETICA)


def checker(columns, rows, on=b"\x00", off=b"\xff"):
    """Rows of one byte per pixel: a checkerboard with a diagonal left out, so a turned or mirrored
    picture differs from the upright one."""
    data = bytearray()
    for y in range(rows):
        for x in range(columns):
            data += on if (x + y) % 2 == 0 and x != y else off
    return bytes(data)


def bits(columns, rows, lit):
    """A 1-bit picture, rows padded to whole bytes; lit(x, y) says which pixels are 1."""
    data = bytearray()
    for y in range(rows):
        row = 0
        for x in range(columns):
            row = row << 1 | (1 if lit(x, y) else 0)
        pad = (8 - columns % 8) % 8
        data += (row << pad).to_bytes((columns + pad) // 8, "big")
    return bytes(data)


def image_masks():
    # Stencils painted in the fill colour: 1 marks paper by default, and a decode of [1 0] turns
    # that round; a large one and a small one stretched, and one turned a quarter.
    pdf = Pdf()
    letter = bits(12, 12, lambda x, y: not (x in (2, 3) or y in (9, 10) or (x > y and x < 6)))
    plain = pdf.stream("/Type /XObject /Subtype /Image /Width 12 /Height 12 /ImageMask true /BitsPerComponent 1",
                       letter)
    inverted = pdf.stream("/Type /XObject /Subtype /Image /Width 12 /Height 12 /ImageMask true /BitsPerComponent 1"
                          " /Decode [1 0]", letter)
    ops = ["0.7 0.1 0.1 rg q 240 0 0 240 50 500 cm /M1 Do Q",
           "0.1 0.1 0.7 rg q 240 0 0 240 320 500 cm /M2 Do Q",
           "0.1 0.5 0.1 rg q 0 240 -240 0 290 220 cm /M1 Do Q",
           "0 0 0 rg q 240 0 0 120 320 280 cm /M2 Do Q",
           "0.5 0 0.5 rg q 500 0 0 60 50 120 cm /M1 Do Q"]
    return pdf.bytes(pdf.page("\n".join(ops), "/XObject << /M1 %d 0 R /M2 %d 0 R >>" % (plain, inverted)))


def decode_arrays():
    # Pictures of a few large pixels under decode arrays: grey as is and inverted, a 1-bit picture
    # inverted, RGB with its red turned round, and CMYK with black left out.
    pdf = Pdf()
    ramp = bytes([0, 60, 120, 180, 240, 30, 90, 150, 210, 255, 45, 105, 165, 225, 15, 75])
    grey = "/Type /XObject /Subtype /Image /Width 4 /Height 4 /ColorSpace /DeviceGray /BitsPerComponent 8"
    g1 = pdf.stream(grey, ramp)
    g2 = pdf.stream(grey + " /Decode [1 0]", ramp)
    one = pdf.stream("/Type /XObject /Subtype /Image /Width 6 /Height 6 /ColorSpace /DeviceGray /BitsPerComponent 1"
                     " /Decode [1 0]", bits(6, 6, lambda x, y: (x + 2 * y) % 3 == 0))
    rgb = bytes(v for i in range(16) for v in (40 * (i % 4) + 20, 60 * (i // 4), 200 - 12 * i))
    c1 = pdf.stream("/Type /XObject /Subtype /Image /Width 4 /Height 4 /ColorSpace /DeviceRGB /BitsPerComponent 8"
                    " /Decode [1 0 0 1 0 1]", rgb)
    cmyk = bytes(v for i in range(16) for v in (16 * i, 255 - 16 * i, 80, 200))
    k1 = pdf.stream("/Type /XObject /Subtype /Image /Width 4 /Height 4 /ColorSpace /DeviceCMYK /BitsPerComponent 8"
                    " /Decode [0 1 0 1 0 1 0 0]", cmyk)
    ops = ["q 240 0 0 240 50 500 cm /G1 Do Q",
           "q 240 0 0 240 320 500 cm /G2 Do Q",
           "q 240 0 0 240 50 230 cm /B1 Do Q",
           "q 240 0 0 240 320 230 cm /C1 Do Q",
           "q 510 0 0 150 50 60 cm /K1 Do Q"]
    return pdf.bytes(pdf.page("\n".join(ops), "/XObject << /G1 %d 0 R /G2 %d 0 R /B1 %d 0 R /C1 %d 0 R /K1 %d 0 R >>"
                              % (g1, g2, one, c1, k1)))


def soft_mask_image():
    # A picture with a soft mask over stripes: where the mask is dark the stripes show through.
    pdf = Pdf()
    alpha = bytes([0, 255, 128, 255, 0, 64, 255, 192, 0])
    mask = pdf.stream("/Type /XObject /Subtype /Image /Width 3 /Height 3 /ColorSpace /DeviceGray /BitsPerComponent 8",
                      alpha)
    picture = pdf.stream("/Type /XObject /Subtype /Image /Width 3 /Height 3 /ColorSpace /DeviceRGB /BitsPerComponent 8"
                         " /SMask %d 0 R" % mask, bytes([200, 30, 30] * 9))
    ops = ["0 0 0.6 rg " + " ".join("%d 60 12 672 re" % x for x in range(40, 572, 36)) + " f",
           "q 480 0 0 480 66 200 cm /P Do Q"]
    return pdf.bytes(pdf.page("\n".join(ops), "/XObject << /P %d 0 R >>" % picture))


def soft_mask_group():
    # A luminosity soft mask from a group of grey bands, over a red fill laid on stripes.
    pdf = Pdf()
    group = pdf.stream("/Type /XObject /Subtype /Form /BBox [0 0 612 792] /Group << /S /Transparency /CS /DeviceGray >>",
                       "1 g 100 100 412 600 re f 0 g 200 200 212 400 re f 0.5 g 150 350 312 100 re f")
    state = "<< /Type /ExtGState /SMask << /Type /Mask /S /Luminosity /G %d 0 R >> >>" % group
    ops = ["0 0 0.6 rg " + " ".join("%d 60 12 672 re" % x for x in range(40, 572, 36)) + " f",
           "q /S1 gs 0.8 0.1 0.1 rg 60 60 492 672 re f Q"]
    return pdf.bytes(pdf.page("\n".join(ops), "/ExtGState << /S1 %s >>" % state))


def opacity():
    # Shapes under a constant opacity over stripes, filled and stroked.
    ops = ["0 0 0.6 rg " + " ".join("%d 60 12 672 re" % x for x in range(40, 572, 36)) + " f",
           "q /A gs 0.8 0.1 0.1 rg 80 420 450 260 re f 0 0.5 0 RG 30 w 100 100 m 500 340 l S Q"]
    return simple("\n".join(ops), "/ExtGState << /A << /Type /ExtGState /ca 0.5 /CA 0.4 >> >>")


def blend_modes():
    # Overlapping squares painted in four blend modes over stripes.
    ops = ["0 0 0.6 rg " + " ".join("%d 60 12 672 re" % x for x in range(40, 572, 36)) + " f"]
    for i, mode in enumerate(("Multiply", "Screen", "Difference", "Darken")):
        x, y = 60 + 260 * (i % 2), 420 - 300 * (i // 2)
        ops.append("q /B%d gs 0.9 0.6 0.1 rg %d %d 230 250 re f Q" % (i, x, y))
    states = " ".join("/B%d << /Type /ExtGState /BM /%s >>" % (i, mode)
                      for i, mode in enumerate(("Multiply", "Screen", "Difference", "Darken")))
    return simple("\n".join(ops), "/ExtGState << %s >>" % states)


def blend_modes_all():
    # Every blend mode but Normal and Hue, each a square at 80 % opacity laid over the paper, blue
    # stripes and a green band, so that each shows what it makes of three backdrops. Hue is left out:
    # pdftoppm's renderer departs there from the standard's formula, which cairo follows.
    modes = ("Multiply", "Screen", "Overlay", "Darken", "Lighten", "ColorDodge", "ColorBurn", "HardLight",
             "SoftLight", "Difference", "Exclusion", "Saturation", "Color", "Luminosity")
    ops = ["0.1 0.2 0.7 rg " + " ".join("%d 40 14 712 re" % x for x in range(40, 572, 42)) + " f",
           "0.2 0.7 0.3 rg 30 330 552 120 re f"]
    for i, mode in enumerate(modes):
        x, y = 50 + 175 * (i % 3), 620 - 140 * (i // 3)
        ops.append("q /B%d gs 0.95 0.55 0.15 rg %d %d 150 120 re f Q" % (i, x, y))
    states = " ".join("/B%d << /Type /ExtGState /BM /%s /ca 0.8 >>" % (i, mode) for i, mode in enumerate(modes))
    return simple("\n".join(ops), "/ExtGState << %s >>" % states)


def soft_mask_fills():
    # Soft masks made of plain fills over stripes: a luminosity mask of coloured fills on a white
    # backdrop colour, and an alpha mask through a transfer function, each under a Multiply fill.
    pdf = Pdf()
    lum = pdf.stream("/Type /XObject /Subtype /Form /BBox [40 420 572 752]"
                     " /Group << /S /Transparency /CS /DeviceRGB >>",
                     "1 0 0 rg 80 460 200 250 re f 0 0.6 0 rg 220 520 300 120 re f 0 0 0 rg 400 440 120 280 re f")
    alpha = pdf.stream("/Type /XObject /Subtype /Form /BBox [40 40 572 372] /Group << /S /Transparency >>",
                       "0 g 80 80 200 250 re f 300 120 m 520 120 l 410 340 l h f")
    transfer = "<< /FunctionType 2 /Domain [0 1] /C0 [0.2] /C1 [0.7] /N 1 >>"
    states = ("/L << /Type /ExtGState /SMask << /Type /Mask /S /Luminosity /G %d 0 R /BC [1 1 1] >> >>"
              " /A << /Type /ExtGState /SMask << /Type /Mask /S /Alpha /G %d 0 R /TR %s >> >>"
              " /M << /Type /ExtGState /BM /Multiply >>" % (lum, alpha, transfer))
    ops = ["0.1 0.2 0.7 rg " + " ".join("%d 40 14 712 re" % x for x in range(40, 572, 42)) + " f",
           "q /L gs 0.9 0.4 0.1 rg 40 420 532 332 re f Q",
           "q /A gs /M gs 0.9 0.4 0.1 rg 40 40 532 332 re f Q"]
    return pdf.bytes(pdf.page("\n".join(ops), "/ExtGState << %s >>" % states))


def soft_mask_shadings():
    # Shadows as slides draw them: a black fill under a soft mask made of shadings along two sides
    # and a corner, with a black box of no value over the middle, so that the shadow shows only
    # beyond the card laid over it. The shadow's rect reaches under the words above the card, where
    # its mask lets nothing through. Below, an orange band in Multiply under a mask that fades
    # across it, over stripes.
    pdf = Pdf()
    ramp = "<< /FunctionType 2 /Domain [0 1] /C0 [%s] /C1 [%s] /N 1 >>"
    side = pdf.add("<< /ShadingType 2 /ColorSpace /DeviceGray /Coords [500 0 524 0] /Function %s >>"
                   % (ramp % ("1", "0")))
    bottom = pdf.add("<< /ShadingType 2 /ColorSpace /DeviceGray /Coords [0 476 0 452] /Function %s >>"
                     % (ramp % ("1", "0")))
    corner = pdf.add("<< /ShadingType 3 /ColorSpace /DeviceGray /Coords [500 476 0 500 476 24] /Function %s"
                     " /Extend [true false] >>" % (ramp % ("1", "0")))
    shadow = pdf.stream("/Type /XObject /Subtype /Form /BBox [100 452 524 690]"
                        " /Group << /S /Transparency /CS /DeviceGray >>"
                        " /Resources << /Shading << /S %d 0 R /B %d 0 R /C %d 0 R >> >>" % (side, bottom, corner),
                        "q 500 476 24 214 re W n /S sh Q q 124 452 376 24 re W n /B sh Q"
                        " q 500 452 24 24 re W n /C sh Q 0 g 100 476 400 214 re f")
    across = pdf.add("<< /ShadingType 2 /ColorSpace /DeviceGray /Coords [60 0 552 0] /Extend [true true]"
                     " /Function %s >>" % (ramp % ("0.1", "1")))
    fade = pdf.stream("/Type /XObject /Subtype /Form /BBox [0 0 612 792] /Group << /S /Transparency /CS /DeviceGray >>"
                      " /Resources << /Shading << /A %d 0 R >> >>" % across, "/A sh")
    states = ("/Shadow << /Type /ExtGState /SMask << /Type /Mask /S /Luminosity /G %d 0 R >> /ca 0.6 >>"
              " /Fade << /Type /ExtGState /SMask << /Type /Mask /S /Luminosity /G %d 0 R >> /BM /Multiply >>"
              % (shadow, fade))
    ops = ["0.1 0.2 0.7 rg " + " ".join("%d 60 14 300 re" % x for x in range(40, 572, 42)) + " f",
           "0 g BT /F1 16 Tf 60 700 Td (Words above the card stay words) Tj ET",
           "q /Shadow gs 0 g 90 440 440 260 re f Q",
           "0.92 0.92 1 rg 100 476 400 214 re f",
           "0 g BT /F1 14 Tf 120 600 Td (A card over its shadow) Tj ET",
           "q /Fade gs 0.95 0.55 0.15 rg 40 120 532 160 re f Q"]
    return pdf.bytes(pdf.page("\n".join(ops), "/ExtGState << %s >> %s" % (states, HELVETICA)))


def group_of_fills():
    # A transparency group under 50 % opacity holding overlapping opaque shapes (discs, a square, a
    # turned square), over stripes and words: each point shows the group's last shape there, half
    # clear, so the shapes do not show through one another.
    pdf = Pdf()
    k = 0.5523
    def disc(cx, cy, r):
        return ("%g %g m %g %g %g %g %g %g c %g %g %g %g %g %g c %g %g %g %g %g %g c %g %g %g %g %g %g c h f"
                % (cx + r, cy, cx + r, cy + k * r, cx + k * r, cy + r, cx, cy + r, cx - k * r, cy + r, cx - r,
                   cy + k * r, cx - r, cy, cx - r, cy - k * r, cx - k * r, cy - r, cx, cy - r, cx + k * r, cy - r,
                   cx + r, cy - k * r, cx + r, cy))
    content = " ".join(["0.9 0.2 0.2 rg", disc(220, 520, 130), "0.2 0.7 0.3 rg", disc(360, 520, 130),
                        "0.2 0.3 0.9 rg 200 300 200 160 re f",
                        "0.95 0.75 0.1 rg 300 150 m 420 270 l 300 390 l 180 270 l h f"])
    group = pdf.stream("/Type /XObject /Subtype /Form /BBox [0 0 612 792] /Group << /S /Transparency >>", content)
    ops = ["0.1 0.1 0.5 rg " + " ".join("%d 100 10 600 re" % x for x in range(40, 572, 36)) + " f"]
    for i in range(20):
        ops.append("0 g BT /F1 12 Tf 60 %d Td (Words beneath the group stay words, line %d) Tj ET" % (680 - 28 * i, i + 1))
    ops.append("q /Half gs /G Do Q")
    return pdf.bytes(pdf.page("\n".join(ops), "/ExtGState << /Half << /Type /ExtGState /ca 0.5 /CA 0.5 >> >>"
                              " /XObject << /G %d 0 R >> %s" % (group, HELVETICA)))


def translucent_words():
    # Words under an opacity over the paper, over a plain band, and in Multiply over a box: each is
    # text in the colour it leaves there, its words kept.
    ops = ["0.85 0.9 1 rg 40 380 532 80 re f", "0.9 0.8 0.3 rg 40 180 532 120 re f",
           "q /Half gs 0.1 0.1 0.6 rg BT /F1 24 Tf 60 600 Td (Half-clear words on the paper) Tj ET",
           "BT /F1 12 Tf 60 560 Td (and smaller ones, twelve points, on the paper too) Tj ET",
           "BT /F1 28 Tf 60 405 Td (Half-clear words on a band) Tj ET Q",
           "q /Multiply gs 0.2 0.5 0.9 rg BT /F1 30 Tf 60 225 Td (Multiplied over a box) Tj ET Q"]
    return simple("\n".join(ops), "/ExtGState << /Half << /Type /ExtGState /ca 0.5 >>"
                  " /Multiply << /Type /ExtGState /BM /Multiply >> >> " + HELVETICA)


def shading_axial():
    # Axial shadings painted with sh: one extended past both ends, one not, under a clip.
    pdf = Pdf()
    ramp = "<< /FunctionType 2 /Domain [0 1] /C0 [0.9 0.1 0.1] /C1 [0.1 0.1 0.9] /N 1 >>"
    a1 = pdf.add("<< /ShadingType 2 /ColorSpace /DeviceRGB /Coords [100 0 500 0] /Function %s /Extend [true true] >>"
                 % ramp)
    a2 = pdf.add("<< /ShadingType 2 /ColorSpace /DeviceRGB /Coords [0 80 0 360] /Function %s /Extend [false false] >>"
                 % ramp.replace("0.9 0.1 0.1", "1 1 0"))
    ops = ["q 50 430 512 300 re W n /A1 sh Q", "q 50 60 512 330 re W n /A2 sh Q"]
    return pdf.bytes(pdf.page("\n".join(ops), "/Shading << /A1 %d 0 R /A2 %d 0 R >>" % (a1, a2)))


def shading_radial():
    # Radial shadings: circles one inside the other, and two apart with the cone between them.
    pdf = Pdf()
    ramp = "<< /FunctionType 2 /Domain [0 1] /C0 [1 1 0.2] /C1 [0.1 0.3 0.7] /N 1 >>"
    r1 = pdf.add("<< /ShadingType 3 /ColorSpace /DeviceRGB /Coords [306 580 20 306 580 160] /Function %s"
                 " /Extend [true false] >>" % ramp)
    r2 = pdf.add("<< /ShadingType 3 /ColorSpace /DeviceRGB /Coords [150 220 30 420 220 110] /Function %s"
                 " /Extend [false false] >>" % ramp)
    ops = ["q 50 400 512 350 re W n /R1 sh Q", "/R2 sh"]
    return pdf.bytes(pdf.page("\n".join(ops), "/Shading << /R1 %d 0 R /R2 %d 0 R >>" % (r1, r2)))


def shading_pattern():
    # A shape filled with a shading pattern: the gradient stays fixed to the page while the shape
    # cuts it.
    pdf = Pdf()
    shading = ("<< /ShadingType 2 /ColorSpace /DeviceRGB /Coords [0 100 0 700] /Extend [true true] /Function"
               " << /FunctionType 2 /Domain [0 1] /C0 [0.1 0.6 0.2] /C1 [0.9 0.9 0.1] /N 1 >> >>")
    pattern = pdf.add("<< /Type /Pattern /PatternType 2 /Shading %s >>" % shading)
    ops = ["/Pattern cs /S0 scn", star(306, 400, 300) + " f"]
    return pdf.bytes(pdf.page("\n".join(ops), "/Pattern << /S0 %d 0 R >>" % pattern))


def pattern_tiling():
    # Tiling patterns: a coloured one filling a disc, and an uncoloured one painted in two colours,
    # its cells apart from its tile's size.
    pdf = Pdf()
    coloured = pdf.stream("/Type /Pattern /PatternType 1 /PaintType 1 /TilingType 1 /BBox [0 0 40 40] /XStep 40"
                          " /YStep 40 /Resources << >>",
                          "0.8 0.2 0.1 rg 0 0 20 20 re f 0.1 0.2 0.8 rg 20 20 20 20 re f 0 g 5 25 10 10 re f")
    uncoloured = pdf.stream("/Type /Pattern /PatternType 1 /PaintType 2 /TilingType 1 /BBox [0 0 30 30] /XStep 36"
                            " /YStep 30 /Resources << >> /Matrix [0.866 0.5 -0.5 0.866 0 0]",
                            "0 0 m 30 15 l 0 30 l f")
    ops = ["/Pattern cs /P1 scn", circle(306, 560, 190) + " f",
           "/CS0 cs 0 0.5 0 /P2 scn 50 60 250 280 re f",
           "0.6 0 0.6 /P2 scn 312 60 250 280 re f"]
    resources = "/Pattern << /P1 %d 0 R /P2 %d 0 R >> /ColorSpace << /CS0 [/Pattern /DeviceRGB] >>" % (coloured,
                                                                                                     uncoloured)
    return pdf.bytes(pdf.page("\n".join(ops), resources))


def turned_page(rotate, media):
    width, height = (float(v) for v in media.split()[2:])
    ops = ["0.1 0.3 0.7 rg 40 %g 200 60 re f" % (height - 100),
           "0.7 0.2 0.1 rg 40 40 m %g 40 l 40 %g l h f" % (width / 3, height / 3),
           "BT /F1 40 Tf 0 g 260 %g Td (Top left) Tj ET" % (height - 90),
           "BT /F1 40 Tf 0 g %g 60 Td (Bottom right) Tj ET" % (width - 300)]
    return simple("\n".join(ops), HELVETICA, media, "/Rotate %d" % rotate)


def rotate_90():
    # A landscape media box turned a quarter clockwise by /Rotate 90: a portrait page to print.
    return turned_page(90, "0 0 792 612")


def rotate_180():
    return turned_page(180, LETTER)


def rotate_270():
    return turned_page(270, "0 0 792 612")


def crop_box():
    # A page whose crop box is a Letter sheet inside a larger media box, away from its origin:
    # what lies outside the crop box is not printed, and what lies inside keeps its place.
    ops = ["0.9 0.1 0.1 rg 0 0 900 1100 re f",
           "1 g 100 150 612 792 re f",
           "0.1 0.4 0.1 rg 120 170 572 40 re f 120 170 40 752 re f",
           "0 0 0.7 rg 300 500 300 300 re f",
           "BT /F1 40 Tf 0 g 200 880 Td (Inside the crop) Tj ET"]
    return simple("\n".join(ops), HELVETICA, "0 0 900 1100", "/CropBox [100 150 712 942]")


PAGES = {
    "caps": caps,
    "joins": joins,
    "miter_limit": miter_limit,
    "dashes": dashes,
    "fill_rules": fill_rules,
    "clip_rules": clip_rules,
    "nested_clips": nested_clips,
    "text_scaling": text_scaling,
    "text_spacing": text_spacing,
    "text_render_modes": text_render_modes,
    "text_turned": text_turned,
    "image_masks": image_masks,
    "decode_arrays": decode_arrays,
    "soft_mask_image": soft_mask_image,
    "soft_mask_group": soft_mask_group,
    "opacity": opacity,
    "blend_modes": blend_modes,
    "blend_modes_all": blend_modes_all,
    "soft_mask_fills": soft_mask_fills,
    "soft_mask_shadings": soft_mask_shadings,
    "group_of_fills": group_of_fills,
    "translucent_words": translucent_words,
    "shading_axial": shading_axial,
    "shading_radial": shading_radial,
    "shading_pattern": shading_pattern,
    "pattern_tiling": pattern_tiling,
    "rotate_90": rotate_90,
    "rotate_180": rotate_180,
    "rotate_270": rotate_270,
    "crop_box": crop_box,
}


def main(names):
    for name in names or PAGES:
        with open(os.path.join(HERE, name + ".pdf"), "wb") as out:
            out.write(PAGES[name]())


if __name__ == "__main__":
    main(sys.argv[1:])
