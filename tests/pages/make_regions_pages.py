#!/usr/bin/env python3
"""Writes the hand-made feature pages of this folder: small one-page PDFs, each showing one thing the
renderer must draw as the source shows it. Run from anywhere; the pages land beside this script.
The photograph is compressed by cjpeg (libjpeg-turbo-progs)."""

import math
import os
import random
import subprocess
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
LETTER = "0 0 612 792"


def pdf(objects, name):
    """Writes objects (bodies of 1, 2, ...; bytes or str) as a PDF whose catalog is object 1."""
    out = bytearray(b"%PDF-1.7\n%\xe2\xe3\xcf\xd3\n")
    offsets = []
    for number, body in enumerate(objects, 1):
        offsets.append(len(out))
        body = body.encode("latin-1") if isinstance(body, str) else body
        out += b"%d 0 obj\n" % number + body + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    for offset in offsets:
        out += b"%010d 00000 n \n" % offset
    out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, xref)
    with open(os.path.join(HERE, name + ".pdf"), "wb") as f:
        f.write(out)


def stream(entries, data, compress=True):
    data = data.encode("latin-1") if isinstance(data, str) else data
    if compress:
        data = zlib.compress(data)
        entries += " /Filter /FlateDecode"
    return b"<< " + entries.encode() + b" /Length %d >>\nstream\n" % len(data) + data + b"\nendstream"


def page(content, resources, extra_objects=(), media=LETTER):
    """The objects of a one-page document: catalog, pages, page, content, Helvetica as /F1, then
    extra_objects numbered from 6."""
    return [
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [%s] /Contents 4 0 R /Resources << /Font << /F1 5 0 R >> %s >> >>"
        % (media, resources),
        stream("", content),
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>",
        *extra_objects,
    ]


def text(x, y, size, words):
    return "BT /F1 %g Tf %g %g Td (%s) Tj ET\n" % (size, x, y, words)


def dash_phase():
    # Dashed frames, lines and circles whose patterns start inside a gap, with round and square
    # caps (where a dash of no length would show as a dot) and flat ones.
    c = text(72, 740, 14, "Dashes start where the document starts them")
    y = 690
    for cap, name in ((1, "round"), (2, "square"), (0, "flat")):
        for phase in (0, 15, 18, 23):
            c += "q 0 0 0.6 RG 4 w %d J [12 8] %g d 72 %g m 300 %g l S Q\n" % (cap, phase, y, y)
            c += text(320, y - 4, 9, "%s caps, phase %g" % (name, phase))
            y -= 22
    for i, (cap, phase) in enumerate(((1, 17), (2, 27), (1, 0))):
        x = 72 + i * 170
        c += "q 0.6 0 0 RG 3 w %d J 1 j [10 6 2 6] %g d %g 300 140 110 re S Q\n" % (cap, phase, x)
        cx, cy, r, k = x + 70, 190, 50, 0.5523 * 50
        c += ("q 0 0.4 0 RG 3 w %d J [9 7] %g d %g %g m %g %g %g %g %g %g c %g %g %g %g %g %g c "
              "%g %g %g %g %g %g c %g %g %g %g %g %g c h S Q\n" % (
                  cap, phase, cx + r, cy, cx + r, cy + k, cx + k, cy + r, cx, cy + r, cx - k, cy + r, cx - r,
                  cy + k, cx - r, cy, cx - r, cy - k, cx - k, cy - r, cx, cy - r, cx + k, cy - r, cx + r, cy - k,
                  cx + r, cy))
    pdf(page(c, ""), "dash_phase")


def interpolation():
    # An 8 x 8 checkerboard of one-pixel squares enlarged 25 times, plainly (crisp squares) and
    # with /Interpolate true (smoothed); a 3 x 2 picture enlarged and one reduced.
    checker = bytes(255 if (x + y) % 2 else 0 for y in range(8) for x in range(8) for _ in range(3))
    colours = bytes([200, 30, 30, 30, 160, 30, 30, 30, 200, 240, 200, 0, 0, 0, 0, 255, 255, 255])
    fine = bytes(255 if (x // 2 + y // 2) % 2 else 40 for y in range(1500) for x in range(1500))
    c = text(72, 740, 14, "Pictures enlarged as the document asks")
    c += "q 200 0 0 200 72 500 cm /Plain Do Q\n" + text(72, 485, 10, "plain: crisp squares")
    c += "q 200 0 0 200 340 500 cm /Smooth Do Q\n" + text(340, 485, 10, "interpolated: smoothed")
    c += "q 240 0 0 160 72 280 cm /Colours Do Q\n" + text(72, 265, 10, "three by two, enlarged")
    c += "q 150 0 0 150 340 280 cm /Fine Do Q\n" + text(340, 265, 10, "reduced: an even grey")
    resources = "/XObject << /Plain 6 0 R /Smooth 7 0 R /Colours 8 0 R /Fine 9 0 R >>"
    image = "/Type /XObject /Subtype /Image /Width %d /Height %d /ColorSpace /%s /BitsPerComponent 8"
    pdf(page(c, resources, [
        stream(image % (8, 8, "DeviceRGB"), checker),
        stream(image % (8, 8, "DeviceRGB") + " /Interpolate true", checker),
        stream(image % (3, 2, "DeviceRGB"), colours),
        stream(image % (1500, 1500, "DeviceGray"), fine),
    ]), "interpolation")


def photograph():
    # A photograph-like JPEG (smooth colour fields and grain) the document holds as DCT data.
    random.seed(7)
    width, height = 640, 427
    pixels = bytearray()
    for y in range(height):
        for x in range(width):
            sky = y < height * 0.45 + 30 * math.sin(x / 70)
            r = (90 + x * 100 // width) if sky else (60 + y * 80 // height)
            g = (140 + y * 60 // height) if sky else (110 + 40 * math.sin(x / 23) + y * 50 // height)
            b = 220 if sky else 50
            grain = random.randint(-12, 12)
            pixels += bytes(max(0, min(255, int(v) + grain)) for v in (r, g, b))
    ppm = b"P6 %d %d 255\n" % (width, height) + bytes(pixels)
    jpeg = subprocess.run(["cjpeg", "-quality", "85"], input=ppm, capture_output=True, check=True).stdout
    c = text(72, 740, 14, "A photograph kept as the document holds it")
    c += "q 468 0 0 312 72 380 cm /Photo Do Q\n"
    resources = "/XObject << /Photo 6 0 R >>"
    photo = b"<< /Type /XObject /Subtype /Image /Width %d /Height %d /ColorSpace /DeviceRGB " \
            b"/BitsPerComponent 8 /Filter /DCTDecode /Length %d >>\nstream\n" % (width, height, len(jpeg))
    pdf(page(c, resources, [photo + jpeg + b"\nendstream"]), "photograph")


def slide():
    # A slide: a title, lines of text and rules, and one translucent box over part of them, as
    # presentation programs make them.
    c = text(72, 720, 28, "Quarterly results at a glance")
    c += "q 0.2 0.2 0.5 RG 1.5 w 72 705 m 540 705 l S Q\n"
    lines = ["Revenue grew in every region this quarter", "Costs stayed within the plan we set in spring",
             "Three new partners signed for next year", "The service answered every request on time",
             "Support tickets fell by a fifth since summer", "Hiring continues for the platform team",
             "The next review takes place in March"]
    for i, line in enumerate(lines):
        c += text(90, 660 - 40 * i, 18, line)
    c += "q /Soft gs 0.1 0.3 0.9 rg 300 470 230 120 re f Q\n"
    c += text(320, 500, 14, "highlighted")
    pdf(page(c, "/ExtGState << /Soft 6 0 R >>", ["<< /Type /ExtGState /ca 0.3 /CA 0.3 >>"]), "slide_translucent_box")


def knockout():
    # A knockout group of three overlapping translucent discs over text: inside the group each disc
    # replaces the ones beneath it instead of showing through them.
    def disc(cx, cy, r):
        k = 0.5523 * r
        return ("%g %g m %g %g %g %g %g %g c %g %g %g %g %g %g c %g %g %g %g %g %g c %g %g %g %g %g %g c f\n"
                % (cx + r, cy, cx + r, cy + k, cx + k, cy + r, cx, cy + r, cx - k, cy + r, cx - r, cy + k, cx - r,
                   cy, cx - r, cy - k, cx - k, cy - r, cx, cy - r, cx + k, cy - r, cx + r, cy - k, cx + r, cy))
    group = ("/Soft gs 1 0 0 rg " + disc(250, 450, 80) + "0 0.7 0 rg " + disc(330, 450, 80)
             + "0 0 1 rg " + disc(290, 380, 80))
    c = text(72, 720, 16, "Three discs in a knockout group over text")
    for i in range(12):
        c += text(90, 600 - 22 * i, 14, "Words under the discs stay words in the printed job, line %d" % (i + 1))
    c += "/Discs Do\n"
    resources = "/ExtGState << /Soft 6 0 R >> /XObject << /Discs 7 0 R >>"
    pdf(page(c, resources, [
        "<< /Type /ExtGState /ca 0.6 /CA 0.6 >>",
        stream("/Type /XObject /Subtype /Form /BBox [0 0 612 792] /Resources << /ExtGState << /Soft 6 0 R >> >> "
               "/Group << /S /Transparency /K true >>", group),
    ]), "knockout_group")


def translucent_paint():
    # Fills and strokes under constant opacities over stripes and text: drawn as their shapes
    # clipped and blended, the words beneath staying words. An even-odd star, a thick circle with
    # round caps, a zigzag under a stretching transform, square caps on an open curve, a fill and
    # stroke in one operation, a translucent fill inside a group that needs no area, a fill of no
    # opacity over a line of text, and dashed translucent lines: flat dashes from a phase, round
    # dots along a curve, square-capped dashes around a closed triangle.
    c = "0.85 0.85 0.95 rg " + " ".join("%d 60 14 672 re" % x for x in range(40, 572, 42)) + " f\n"
    for i in range(8):
        c += "0 g " + text(60, 700 - 86 * i, 13, "Words beneath translucent shapes stay words, line %d" % (i + 1))
    star = "306 760 m 380 560 l 200 680 l 412 680 l 232 560 l h"
    c += "q /Half gs 0.9 0.2 0.1 rg %s f* Q\n" % star
    k = 0.5523 * 90
    circle = ("%g %g m %g %g %g %g %g %g c %g %g %g %g %g %g c %g %g %g %g %g %g c"
              % (250, 420, 250, 420 + k, 160 + k, 510, 160, 510, 160 - k, 510, 70, 420 + k, 70, 420,
                 70, 420 - k, 160 - k, 330, 160, 330))
    c += "q /Stroke gs 0 0.5 0.2 RG 22 w 1 J 1 j %s S Q\n" % circle
    c += "q /Stroke gs 0.1 0.2 0.8 RG 2 0 0 1 0 0 cm 12 w 0 j 10 M 160 330 m 180 480 l 200 330 l 220 480 l 240 330 l S Q\n"
    c += "q /Stroke gs 0.6 0 0.6 RG 16 w 2 J 380 150 m 420 300 520 80 560 250 c S Q\n"
    c += "q /Half gs /Stroke gs 1 0.8 0 rg 0.3 0.3 0.3 RG 10 w 80 90 200 110 re B Q\n"
    c += "/Plain Do\n"
    c += "q /None gs 0 0 0 rg 50 612 520 30 re f Q\n"
    c += "q /Stroke gs 0.8 0 0 RG 8 w [20 12] 6 d 300 120 m 560 120 l S Q\n"
    c += "q /Stroke gs 0 0 0.7 RG 6 w 1 J [0 14] 0 d 300 40 m 400 100 480 0 580 60 c S Q\n"
    c += "q /Stroke gs 0.9 0.4 0 RG 5 w 2 J [18 6 4 6] 3 d 440 520 m 560 520 l 560 600 l h S Q\n"
    resources = "/ExtGState << /Half 6 0 R /Stroke 7 0 R /None 8 0 R >> /XObject << /Plain 9 0 R >>"
    pdf(page(c, resources, [
        "<< /Type /ExtGState /ca 0.5 >>",
        "<< /Type /ExtGState /CA 0.55 >>",
        "<< /Type /ExtGState /ca 0 >>",
        stream("/Type /XObject /Subtype /Form /BBox [0 0 612 792] /Resources << /ExtGState << /Half 6 0 R >> >> "
               "/Group << /S /Transparency >>", "/Half gs 0 0.6 0.6 rg 330 330 200 120 re f"),
    ]), "translucent_paint")


def translucent_text():
    # Text under constant opacities over text and stripes: a watermark turned across the page, each
    # of its large glyphs drawn as its outline blended, the page's own text and stripes staying as
    # they are; and a line of translucent words of 30 points over a coloured band, which goes as an
    # area over its words.
    c = "0.8 0.9 0.8 rg 40 300 532 60 re f\n0 g\n"
    for i in range(26):
        c += text(60, 740 - 26 * i, 12, "Every line of this page stays text, though a watermark lies over it, %d" % (i + 1))
    c += "q /Faint gs 0.8 0.1 0.1 rg BT /F1 150 Tf 0.7071 0.7071 -0.7071 0.7071 150 170 Tm (DRAFT) Tj ET Q\n"
    c += "q /Half gs 0 0 0.6 rg BT /F1 30 Tf 70 318 Td (Half-clear words on a band) Tj ET Q\n"
    resources = "/ExtGState << /Faint 6 0 R /Half 7 0 R >>"
    pdf(page(c, resources, ["<< /Type /ExtGState /ca 0.25 >>", "<< /Type /ExtGState /ca 0.5 >>"]),
        "translucent_text")


def shadows_under_boxes():
    # Boxes over shadows drawn through a soft mask, as slides and reports draw them: the box hides
    # most of its shadow, so only the shadow's rim goes as pixels and the box and its words stay
    # drawings. Over the second box a band in Multiply lands afterwards: that box is painted as a
    # picture whole.
    def rounded(x0, y0, x1, y1, r):
        k = 0.5523 * r
        return ("%g %g m %g %g l %g %g %g %g %g %g c %g %g l %g %g %g %g %g %g c %g %g l "
                "%g %g %g %g %g %g c %g %g l %g %g %g %g %g %g c h"
                % (x0 + r, y0, x1 - r, y0, x1 - r + k, y0, x1, y0 + r - k, x1, y0 + r, x1, y1 - r,
                   x1, y1 - r + k, x1 - r + k, y1, x1 - r, y1, x0 + r, y1, x0 + r - k, y1, x0, y1 - r + k,
                   x0, y1 - r, x0, y0 + r, x0, y0 + r - k, x0 + r - k, y0, x0 + r, y0))
    c = "0.85 0.9 0.85 rg " + " ".join("%d 40 10 712 re" % x for x in range(40, 572, 36)) + " f\n0 g\n"
    for i, (x, y) in enumerate([(80, 470), (150, 150)]):
        c += "q /Shadow gs 0.2 g %g %g 330 170 re f Q\n" % (x + 6, y - 6)
        c += "0.92 0.92 1 rg %s f\n" % rounded(x, y, x + 330, y + 170, 10)
        c += "0 0 0.5 rg %s f\n" % rounded(x, y + 130, x + 330, y + 170, 10)
        c += "1 g " + text(x + 12, y + 143, 16, "Box %d" % (i + 1))
        for line in range(4):
            c += "0 g " + text(x + 12, y + 100 - 24 * line, 13, "Words inside the box stay words, line %d" % (line + 1))
    c += "q /Multiply gs 1 0.8 0.2 rg 120 200 330 30 re f Q\n"
    mask_group = stream("/Type /XObject /Subtype /Form /BBox [0 0 612 792] /Group << /S /Transparency /CS /DeviceGray >> "
                        "/Resources << /Shading << /Fade 8 0 R >> >>", "/Fade sh")
    resources = "/ExtGState << /Shadow 6 0 R /Multiply 9 0 R >>"
    pdf(page(c, resources, [
        "<< /Type /ExtGState /SMask << /Type /Mask /S /Luminosity /G 7 0 R >> >>",
        mask_group,
        "<< /ShadingType 2 /ColorSpace /DeviceGray /Coords [0 0 612 792] /Extend [true true] "
        "/Function << /FunctionType 2 /Domain [0 1] /C0 [0.9] /C1 [0.4] /N 1 >> >>",
        "<< /Type /ExtGState /BM /Multiply >>",
    ]), "shadows_under_boxes")


def main():
    dash_phase()
    interpolation()
    photograph()
    slide()
    knockout()
    translucent_paint()
    translucent_text()
    shadows_under_boxes()


if __name__ == "__main__":
    main()
