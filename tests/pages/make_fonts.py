#!/usr/bin/python3
"""Writes the font pages no common producer makes, each one Letter page of a few lines, with small
subsets of Debian's fonts made by fontTools (python3-fonttools, fonts-lmodern, fonts-noto-cjk,
fonts-dejavu-core). Run from anywhere; the pages land beside this script. `pdffonts` on each page
shows the kind its name claims."""

import io
import os
import sys
import zlib

from fontTools import subset
from fontTools.cffLib import CFFFontSet
from fontTools.ttLib import TTFont

HERE = os.path.dirname(os.path.abspath(__file__))
LM_ROMAN = "/usr/share/texmf/fonts/opentype/public/lm/lmroman10-regular.otf"
NOTO_CJK = "/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc"
NOTO_CJK_JP = 0  # the Japanese face of the collection
DEJAVU = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"


class Pdf:
    """A PDF written object by object; object 1 is the catalogue, 2 the page tree, 3 the page."""

    def __init__(self):
        self.objects = [None, None, None]

    def add(self, body):
        self.objects.append(body if isinstance(body, bytes) else body.encode("latin-1"))
        return len(self.objects)

    def stream(self, entries, data, compress=True):
        if compress:
            data = zlib.compress(data, 9)
            entries += " /Filter /FlateDecode"
        return self.add(b"<< " + entries.encode("latin-1") + b" /Length %d >>\nstream\n" % len(data) + data
                        + b"\nendstream")

    def write(self, name, fonts, content):
        resources = " ".join("/%s %d 0 R" % (key, number) for key, number in fonts.items())
        self.objects[0] = b"<< /Type /Catalog /Pages 2 0 R >>"
        self.objects[1] = b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>"
        contents = self.stream("", content.encode("latin-1"))
        self.objects[2] = ("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << %s >> >>"
                           " /Contents %d 0 R >>" % (resources, contents)).encode("latin-1")
        out = io.BytesIO()
        out.write(b"%PDF-1.7\n%\xe2\xe3\xcf\xd3\n")
        offsets = []
        for number, body in enumerate(self.objects, 1):
            offsets.append(out.tell())
            out.write(b"%d 0 obj\n" % number + body + b"\nendobj\n")
        xref = out.tell()
        out.write(b"xref\n0 %d\n0000000000 65535 f \n" % (len(self.objects) + 1))
        for offset in offsets:
            out.write(b"%010d 00000 n \n" % offset)
        out.write(b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(self.objects) + 1, xref))
        with open(os.path.join(HERE, name), "wb") as f:
            f.write(out.getvalue())


def subset_font(path, text, number=0, options=None):
    """The font at `path` cut down to the glyphs of `text` (names kept, no layout tables)."""
    font = TTFont(path, fontNumber=number)
    opts = subset.Options()
    opts.glyph_names = True
    opts.layout_features = []
    opts.name_IDs = ["*"]
    opts.notdef_outline = True
    opts.desubroutinize = True
    opts.hinting = False
    for key, value in (options or {}).items():
        setattr(opts, key, value)
    subsetter = subset.Subsetter(opts)
    subsetter.populate(text=text)
    subsetter.subset(font)
    return font


def font_bytes(font):
    out = io.BytesIO()
    font.save(out)
    return out.getvalue()


def cff_bytes(font):
    """The bare CFF program of an OpenType CFF font."""
    out = io.BytesIO()
    font["CFF "].cff.compile(out, font)
    return out.getvalue()


def width_of(font, glyph):
    return round(font["hmtx"][glyph][0] * 1000 / font["head"].unitsPerEm)


def to_unicode(pdf, pairs, code_bytes=2):
    """A ToUnicode CMap stream of (code, text) pairs."""
    digits = 2 * code_bytes
    lines = ["/CIDInit /ProcSet findresource begin 12 dict begin begincmap",
             "/CIDSystemInfo << /Registry (Adobe) /Ordering (UCS) /Supplement 0 >> def",
             "/CMapName /Adobe-Identity-UCS def /CMapType 2 def",
             "1 begincodespacerange <%s> <%s> endcodespacerange" % ("0" * digits, "F" * digits),
             "%d beginbfchar" % len(pairs)]
    for code, text in pairs:
        lines.append("<%0*X> <%s>" % (digits, code, text.encode("utf-16-be").hex().upper()))
    lines += ["endbfchar", "endcmap CMapName currentdict /CMap defineresource pop end end"]
    return pdf.stream("", "\n".join(lines).encode("latin-1"))


def cid_font(pdf, base, subtype, descriptor, widths, extra=""):
    w = " ".join("%d [%d]" % (cid, width) for cid, width in sorted(widths.items()))
    return pdf.add("<< /Type /Font /Subtype /%s /BaseFont /%s /CIDSystemInfo << /Registry (Adobe) /Ordering (Identity)"
                   " /Supplement 0 >> /FontDescriptor %d 0 R /DW 1000 /W [%s] %s >>" % (subtype, base, descriptor, w,
                                                                                         extra))


def descriptor(pdf, name, file_key, file_number, flags=4):
    return pdf.add("<< /Type /FontDescriptor /FontName /%s /Flags %d /FontBBox [-1000 -1000 2000 2000] /ItalicAngle 0"
                   " /Ascent 880 /Descent -120 /CapHeight 700 /StemV 80 /%s %d 0 R >>" % (name, flags, file_key,
                                                                                            file_number))


def type0(pdf, base, encoding, descendant, unicode_map=None):
    tail = " /ToUnicode %d 0 R" % unicode_map if unicode_map else ""
    return pdf.add("<< /Type /Font /Subtype /Type0 /BaseFont /%s /Encoding %s /DescendantFonts [%d 0 R]%s >>"
                   % (base, encoding, descendant, tail))


def hex_codes(codes, code_bytes=2):
    return "<" + "".join("%0*X" % (2 * code_bytes, code) for code in codes) + ">"


def lines(font_key, size, x, y, step, shown):
    out = ["BT /%s %d Tf" % (font_key, size)]
    for i, line in enumerate(shown):
        out.append("1 0 0 1 %d %d Tm %s Tj" % (x, y - i * step, line))
    out.append("ET")
    return "\n".join(out) + "\n"


def cjk_cids(font, text):
    """The CIDs of a CID-keyed subset's glyphs for the characters of `text` (its glyph names are cidNNNNN)."""
    cmap = font.getBestCmap()
    return [int(cmap[ord(ch)][3:]) for ch in text]


def cff_cid_widths(font, cids):
    return {cid: width_of(font, "cid%05d" % cid) for cid in cids}


def cid_cff_identity():
    """CID-keyed CFF whose charset is the identity: CID n is glyph n."""
    text = "CID-keyed CFF, every CID its own glyph index: 123"
    font = subset_font(NOTO_CJK, text, NOTO_CJK_JP)
    cff = font["CFF "].cff
    top = cff[cff.fontNames[0]]
    order = top.charset
    identity = [".notdef"] + ["cid%05d" % i for i in range(1, len(order))]
    old = {name: i for i, name in enumerate(order)}
    # Renaming the glyphs renumbers their CIDs to their indices.
    strings = top.CharStrings.charStrings
    top.CharStrings.charStrings = {identity[i]: strings[name] for i, name in enumerate(order)}
    top.charset = identity
    program = cff_bytes(font)
    codes = [old[font.getBestCmap()[ord(ch)]] for ch in text]
    pdf = Pdf()
    fd = descriptor(pdf, "CIDIdentity", "FontFile3", pdf.stream("/Subtype /CIDFontType0C", program))
    widths = {old[font.getBestCmap()[ord(ch)]]: width_of(font, font.getBestCmap()[ord(ch)]) for ch in text}
    cid = cid_font(pdf, "CIDIdentity", "CIDFontType0", fd, widths)
    uni = to_unicode(pdf, sorted({(c, ch) for c, ch in zip(codes, text)}))
    f1 = type0(pdf, "CIDIdentity", "/Identity-H", cid, uni)
    pdf.write("font-cid-cff-identity.pdf", {"F1": f1},
              lines("F1", 18, 72, 700, 30, [hex_codes(codes), hex_codes(codes[:14])]))


def opentype_cff():
    """A CFF program in an OpenType wrapper, as a simple font and as a CID font."""
    latin = "OpenType CFF simple font: Quick brown foxes."
    named = "OpenType CFF as a CID font: lazy dogs."
    lm = subset_font(LM_ROMAN, latin + named)
    cmap = lm.getBestCmap()
    widths = " ".join(str(width_of(lm, cmap[c]) if c in cmap else 0) for c in range(32, 127))
    pdf = Pdf()
    fd1 = descriptor(pdf, "LMOpenType", "FontFile3", pdf.stream("/Subtype /OpenType", font_bytes(lm), False), 32)
    f1 = pdf.add("<< /Type /Font /Subtype /Type1 /BaseFont /LMOpenType /FirstChar 32 /LastChar 126 /Widths [%s]"
                 " /Encoding /WinAnsiEncoding /FontDescriptor %d 0 R >>" % (widths, fd1))
    # The same program as a CID font, its CIDs the glyph indices of the name-keyed CFF.
    order = {name: i for i, name in enumerate(lm.getGlyphOrder())}
    cids = [order[cmap[ord(ch)]] for ch in named]
    cid = cid_font(pdf, "LMOpenType", "CIDFontType0", fd1, {order[cmap[ord(ch)]]: width_of(lm, cmap[ord(ch)]) for ch in named})
    f2 = type0(pdf, "LMOpenType", "/Identity-H", cid, to_unicode(pdf, sorted(set(zip(cids, named)))))
    content = lines("F1", 18, 72, 700, 30, ["(%s)" % latin]) + lines("F2", 18, 72, 660, 30, [hex_codes(cids)])
    pdf.write("font-opentype-cff.pdf", {"F1": f1, "F2": f2}, content)


def cidtype2_stream():
    """A TrueType CID font whose CIDs (here the characters' Unicode values) reach their glyphs through a
    /CIDToGIDMap stream."""
    text = "CIDToGIDMap stream: Zebras quickly vexed jumping fowl 0123456789"
    font = subset_font(DEJAVU, text)
    cmap = font.getBestCmap()
    order = {name: i for i, name in enumerate(font.getGlyphOrder())}
    cids = [ord(ch) for ch in text]
    table = bytearray(2 * (max(cids) + 1))
    for cid in cids:
        gid = order[cmap[cid]]
        table[2 * cid:2 * cid + 2] = gid.to_bytes(2, "big")
    pdf = Pdf()
    fd = descriptor(pdf, "DejaVuMapped", "FontFile2", pdf.stream("", font_bytes(font)))
    widths = {cid: width_of(font, cmap[cid]) for cid in cids}
    cid = cid_font(pdf, "DejaVuMapped", "CIDFontType2", fd, widths, "/CIDToGIDMap %d 0 R" % pdf.stream("", bytes(table)))
    f1 = type0(pdf, "DejaVuMapped", "/Identity-H", cid, to_unicode(pdf, sorted(set(zip(cids, text)))))
    pdf.write("font-cidtype2-stream.pdf", {"F1": f1}, lines("F1", 16, 72, 700, 28, [hex_codes(cids)]))


def vertical():
    """Japanese set vertically (Identity-V) beside the same words set horizontally (Identity-H)."""
    text = "縦書きの日本語テキスト"
    noto = subset_font(NOTO_CJK, text, NOTO_CJK_JP)
    cids = cjk_cids(noto, text)
    pdf = Pdf()
    fd = descriptor(pdf, "NotoVertical", "FontFile3", pdf.stream("/Subtype /CIDFontType0C", cff_bytes(noto)))
    cid = cid_font(pdf, "NotoVertical", "CIDFontType0", fd, cff_cid_widths(noto, cids), "/DW2 [880 -1000]")
    uni = to_unicode(pdf, sorted(set(zip(cids, text))))
    fv = type0(pdf, "NotoVertical", "/Identity-V", cid, uni)
    fh = type0(pdf, "NotoVertical", "/Identity-H", cid, uni)
    content = lines("FV", 24, 300, 700, 0, [hex_codes(cids)]) + lines("FV", 24, 350, 700, 0, [hex_codes(cids[:5])])
    content += lines("FH", 20, 72, 300, 0, [hex_codes(cids)])
    pdf.write("font-identity-v.pdf", {"FV": fv, "FH": fh}, content)


def cmap_stream():
    """A font whose one-byte codes reach their CIDs through a CMap the document holds."""
    text = "One-byte codes through an embedded CMap: abc XYZ"
    noto = subset_font(NOTO_CJK, text, NOTO_CJK_JP)
    cmap = noto.getBestCmap()
    chars = sorted(set(text))
    cid_of = {ch: int(cmap[ord(ch)][3:]) for ch in chars}
    # Codes are the characters' bytes shifted by one, so that code and CID differ from the text's bytes.
    code_of = {ch: ord(ch) + 1 for ch in chars}
    body = ["/CIDInit /ProcSet findresource begin 12 dict begin begincmap",
            "/CIDSystemInfo << /Registry (Adobe) /Ordering (Identity) /Supplement 0 >> def",
            "/CMapName /Shifted-OneByte def /CMapType 1 def",
            "1 begincodespacerange <00> <FF> endcodespacerange",
            "%d begincidchar" % len(chars)]
    body += ["<%02X> %d" % (code_of[ch], cid_of[ch]) for ch in chars]
    body += ["endcidchar", "endcmap CMapName currentdict /CMap defineresource pop end end"]
    pdf = Pdf()
    encoding = pdf.stream("/Type /CMap /CMapName /Shifted-OneByte /CIDSystemInfo << /Registry (Adobe) /Ordering"
                          " (Identity) /Supplement 0 >>", "\n".join(body).encode("latin-1"))
    fd = descriptor(pdf, "NotoShifted", "FontFile3", pdf.stream("/Subtype /CIDFontType0C", cff_bytes(noto)))
    cid = cid_font(pdf, "NotoShifted", "CIDFontType0", fd, cff_cid_widths(noto, cid_of.values()))
    uni = to_unicode(pdf, [(code_of[ch], ch) for ch in chars], 1)
    f1 = type0(pdf, "NotoShifted", "%d 0 R" % encoding, cid, uni)
    pdf.write("font-cmap-stream.pdf", {"F1": f1},
              lines("F1", 18, 72, 700, 30, [hex_codes([code_of[ch] for ch in text], 1)]))


def base14():
    """Standard fonts the document names but does not hold: the system's stand-ins draw them."""
    pdf = Pdf()
    fonts = {}
    shown = [("Helvetica", "Helvetica stands in for the sans serif."),
             ("Times-Roman", "Times-Roman sets this serif line."),
             ("Courier-Bold", "Courier-Bold types = 42;"),
             ("Helvetica-Oblique", "Helvetica-Oblique leans right.")]
    content = ""
    for i, (name, line) in enumerate(shown):
        key = "F%d" % (i + 1)
        fonts[key] = pdf.add("<< /Type /Font /Subtype /Type1 /BaseFont /%s /Encoding /WinAnsiEncoding >>" % name)
        content += lines(key, 18, 72, 700 - 32 * i, 0, ["(%s)" % line])
    pdf.write("font-base14.pdf", fonts, content)


def cjk_substitutes():
    """Chinese, Korean and Japanese in CJK fonts the document names but does not hold, through the
    predefined Unicode CMaps."""
    pdf = Pdf()
    shown = [("STSong-Light", "UniGB-UCS2-H", "GB1", 4, "中文字体替换测试。"),
             ("HYSMyeongJo-Medium", "UniKS-UCS2-H", "Korea1", 1, "한국어 글꼴 대체 시험"),
             ("KozMinPr6N-Regular", "UniJIS-UCS2-H", "Japan1", 6, "日本語の代替フォント")]
    fonts = {}
    content = ""
    for i, (name, encoding, ordering, supplement, line) in enumerate(shown):
        fd = pdf.add("<< /Type /FontDescriptor /FontName /%s /Flags 6 /FontBBox [-200 -300 1200 1000] /ItalicAngle 0"
                     " /Ascent 880 /Descent -120 /CapHeight 700 /StemV 80 >>" % name)
        cid = pdf.add("<< /Type /Font /Subtype /CIDFontType0 /BaseFont /%s /CIDSystemInfo << /Registry (Adobe)"
                      " /Ordering (%s) /Supplement %d >> /FontDescriptor %d 0 R /DW 1000 >>"
                      % (name, ordering, supplement, fd))
        key = "F%d" % (i + 1)
        fonts[key] = type0(pdf, name, "/" + encoding, cid)
        content += lines(key, 20, 72, 700 - 36 * i, 0, [hex_codes([ord(ch) for ch in line])])
    pdf.write("font-cjk-substitute.pdf", fonts, content)


def type3():
    """Glyphs drawn by the page's own procedures: a square, a triangle and a bar."""
    pdf = Pdf()
    procs = {"square": "600 0 d0 50 0 500 500 re f", "triangle": "600 0 d0 50 0 m 550 0 l 300 500 l f",
             "bar": "300 0 d0 100 0 100 700 re f"}
    numbers = {name: pdf.stream("", body.encode("latin-1")) for name, body in procs.items()}
    char_procs = " ".join("/%s %d 0 R" % (name, number) for name, number in numbers.items())
    f1 = pdf.add("<< /Type /Font /Subtype /Type3 /FontBBox [0 0 600 700] /FontMatrix [0.001 0 0 0.001 0 0]"
                 " /CharProcs << %s >> /Encoding << /Type /Encoding /Differences [97 /square /triangle /bar] >>"
                 " /FirstChar 97 /LastChar 99 /Widths [600 600 300] /Resources << >> >>" % char_procs)
    pdf.write("font-type3.pdf", {"F1": f1}, lines("F1", 24, 72, 700, 40, ["(abcabc)", "(ccbbaa)"]))


if __name__ == "__main__":
    for make in (cid_cff_identity, opentype_cff, cidtype2_stream, vertical, cmap_stream, base14, cjk_substitutes,
                 type3):
        make()
    sys.exit(0)
