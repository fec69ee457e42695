#!/usr/bin/python3
"""Writes the mesh and function shading pages of this folder, each a small Letter page whose shading
fills much of the sheet:

    tests/pages/make_shading_pages.py [NAME...]    # every page, or the named ones

The lattice and free-form Gouraud, function-based and tensor-patch shadings are written by hand,
their streams packed here; the Coons patches are drawn by cairo (python3-cairo) as a mesh pattern,
which it writes as a patch mesh shading."""

import math
import os
import struct
import sys

import cairo

from make_feature_pages import Pdf

HERE = os.path.dirname(os.path.abspath(__file__))


def rgb_byte(colour):
    return bytes(max(0, min(255, round(c * 255))) for c in colour)


def coord(value, low, high):
    return struct.pack(">H", round((value - low) / (high - low) * 65535))


def heat(t):
    """A colour map from dark blue through green to yellow, as plots use."""
    t = max(0.0, min(1.0, t))
    return (min(1.0, 2 * t * t), 0.2 + 0.7 * math.sin(math.pi * t * 0.9), 0.6 * (1 - t) + 0.1)


def gouraud_lattice():
    # A surface plot's mesh: a 24 x 18 lattice bent like a plotted surface, coloured by height.
    pdf = Pdf()
    columns, rows = 24, 18
    data = bytearray()
    for row in range(rows):
        for column in range(columns):
            u, v = column / (columns - 1), row / (rows - 1)
            height = 0.5 + 0.5 * math.sin(3 * u + 1) * math.cos(4 * v)
            x = 60 + 490 * u + 40 * v
            y = 120 + 520 * v + 60 * height
            data += coord(x, 0, 612) + coord(y, 0, 792) + rgb_byte(heat(height))
    shading = pdf.stream("/ShadingType 5 /ColorSpace /DeviceRGB /BitsPerCoordinate 16 /BitsPerComponent 8"
                         " /VerticesPerRow %d /Decode [0 612 0 792 0 1 0 1 0 1]" % columns, bytes(data), True)
    return pdf.bytes(pdf.page("/M sh", "/Shading << /M %d 0 R >>" % shading))


def gouraud_free():
    # Free-form triangles: a fan of coloured triangles sharing their sides (flags 1 and 2), and a
    # separate strip whose corners carry a parameter of a colour function with a bend in it.
    pdf = Pdf()
    data = bytearray()
    centre = (306, 560)
    points = [(306 + 230 * math.cos(a), 560 + 180 * math.sin(a)) for a in
              [2 * math.pi * k / 9 for k in range(10)]]
    colours = [(1, 0.2, 0.2), (0.2, 0.8, 0.2), (0.2, 0.3, 1), (1, 0.9, 0.1), (0.8, 0.2, 0.9)]

    def vertex(flag, point, colour):
        return bytes([flag]) + coord(point[0], 0, 612) + coord(point[1], 0, 792) + rgb_byte(colour)

    data += vertex(0, centre, (1, 1, 1)) + vertex(0, points[0], colours[0]) + vertex(0, points[1], colours[1])
    for k in range(2, 10):
        # Flag 2: the next triangle shares the first and the last vertex of the one before (a fan).
        data += vertex(2, points[k], colours[k % 5])
    fan = pdf.stream("/ShadingType 4 /ColorSpace /DeviceRGB /BitsPerCoordinate 16 /BitsPerComponent 8"
                     " /BitsPerFlag 8 /Decode [0 612 0 792 0 1 0 1 0 1]", bytes(data), True)

    data = bytearray()

    def parametric(flag, point, t):
        return bytes([flag]) + coord(point[0], 0, 612) + coord(point[1], 0, 792) + struct.pack(">H", round(t * 65535))

    strip = [((60 + 98 * k, 120 + (k % 2) * 200), k / 5) for k in range(6)]
    data += parametric(0, *strip[0]) + parametric(0, *strip[1]) + parametric(0, *strip[2])
    for point, t in strip[3:]:
        # Flag 1: the next triangle shares the last two vertices of the one before (a strip).
        data += parametric(1, point, t)
    function = ("<< /FunctionType 3 /Domain [0 1] /Bounds [0.5] /Encode [0 1 0 1] /Functions ["
                "<< /FunctionType 2 /Domain [0 1] /C0 [0.1 0.2 0.8] /C1 [1 1 1] /N 2 >>"
                "<< /FunctionType 2 /Domain [0 1] /C0 [1 1 1] /C1 [0.9 0.3 0.1] /N 0.5 >> ] >>")
    parametric_strip = pdf.stream("/ShadingType 4 /ColorSpace /DeviceRGB /BitsPerCoordinate 16 /BitsPerComponent 16"
                                  " /BitsPerFlag 8 /Decode [0 612 0 792 0 1] /Function %s" % function,
                                  bytes(data), True)
    return pdf.bytes(pdf.page("/F sh /P sh", "/Shading << /F %d 0 R /P %d 0 R >>" % (fan, parametric_strip)))


def shading_function():
    # A function-based shading over a turned rectangle: red grows with x, blue with y, and green
    # waves with their product (a PostScript calculator function).
    pdf = Pdf()
    function = pdf.stream("/FunctionType 4 /Domain [0 1 0 1] /Range [0 1 0 1 0 1]",
                          "{ 2 copy mul 360 mul sin 1 add 2 div exch }")
    shading = pdf.add("<< /ShadingType 1 /ColorSpace /DeviceRGB /Domain [0 1 0 1]"
                      " /Matrix [420 80 -100 520 140 120] /Function %d 0 R >>" % function)
    return pdf.bytes(pdf.page("q 40 60 532 680 re W n /S sh Q", "/Shading << /S %d 0 R >>" % shading))


# The order in which a tensor patch lists its sixteen points: around the edge from p00, then the
# four inside.
TENSOR_ORDER = [(0, 0), (0, 1), (0, 2), (0, 3), (1, 3), (2, 3), (3, 3), (3, 2), (3, 1), (3, 0), (2, 0), (1, 0),
                (1, 1), (1, 2), (2, 2), (2, 1)]


def shading_tensor():
    # Two tensor-product patches side by side, their shared side bent, the inside points pulled
    # away from where a Coons patch would put them.
    pdf = Pdf()
    data = bytearray()
    for left, colours in ((60, [(1, 0.1, 0.1), (1, 0.9, 0.1), (0.1, 0.7, 0.2), (0.1, 0.2, 1)]),
                          (306, [(0.1, 0.2, 1), (0.1, 0.7, 0.2), (0.9, 0.1, 0.9), (1, 1, 1)])):
        grid = {}
        for i in range(4):
            for j in range(4):
                x = left + 82 * j + 40 * math.sin(math.pi * i / 3)
                y = 140 + 170 * i + 30 * math.sin(math.pi * j / 3)
                if (i, j) in ((1, 1), (2, 2)):
                    x, y = x + 50, y - 40
                grid[(i, j)] = (x, y)
        data += b"\x00"
        for key in TENSOR_ORDER:
            data += coord(grid[key][0], 0, 612) + coord(grid[key][1], 0, 792)
        # The colours of the corners p00, p03, p33, p30, in that order.
        for colour in colours:
            data += rgb_byte(colour)
    shading = pdf.stream("/ShadingType 7 /ColorSpace /DeviceRGB /BitsPerCoordinate 16 /BitsPerComponent 8"
                         " /BitsPerFlag 8 /Decode [0 612 0 792 0 1 0 1 0 1]", bytes(data), True)
    return pdf.bytes(pdf.page("/T sh", "/Shading << /T %d 0 R >>" % shading))


def shading_coons():
    # Coons patches drawn by cairo: a 3 x 3 sheet of patches with bent sides meeting one another,
    # which a viewer shows without seams.
    path = os.path.join(HERE, "shading_coons.pdf")
    surface = cairo.PDFSurface(path, 612, 792)
    context = cairo.Context(surface)
    mesh = cairo.MeshPattern()

    def point(i, j):
        return (80 + 150 * j + 25 * math.sin(1.7 * i + j), 120 + 180 * i + 20 * math.cos(i + 1.3 * j))

    for i in range(3):
        for j in range(3):
            corners = [point(i, j), point(i, j + 1), point(i + 1, j + 1), point(i + 1, j)]
            mesh.begin_patch()
            mesh.move_to(*corners[0])
            for k in range(1, 5):
                a, b = corners[k - 1], corners[k % 4]
                # The bend depends on the side alone, so that the two patches sharing it agree.
                ox = 30 * math.sin((a[1] + b[1]) / 70)
                oy = 30 * math.cos((a[0] + b[0]) / 70)
                mesh.curve_to(a[0] + (b[0] - a[0]) / 3 + ox, a[1] + (b[1] - a[1]) / 3 + oy,
                              a[0] + 2 * (b[0] - a[0]) / 3 + ox, a[1] + 2 * (b[1] - a[1]) / 3 + oy, *b)
            for k, (x, y) in enumerate(corners):
                mesh.set_corner_color_rgb(k, *heat(((x - 80) / 450 + (y - 120) / 540) / 2))
            mesh.end_patch()
    context.set_source(mesh)
    context.paint()
    surface.finish()
    with open(path, "rb") as made:
        return made.read()


PAGES = {
    "shading_gouraud_lattice": gouraud_lattice,
    "shading_gouraud_free": gouraud_free,
    "shading_function": shading_function,
    "shading_tensor": shading_tensor,
    "shading_coons": shading_coons,
}


def main(names):
    for name in names or PAGES:
        page = PAGES[name]()
        with open(os.path.join(HERE, name + ".pdf"), "wb") as out:
            out.write(page)


if __name__ == "__main__":
    main(sys.argv[1:])
