#!/bin/sh
# Makes the font pages in this folder: those TeX, Ghostscript and cairo write (below), then the rare
# kinds written by hand (make_fonts.py). Needs texlive-xetex, texlive-luatex, fonts-lmodern,
# fonts-noto-cjk, fonts-dejavu-core, ghostscript, poppler-utils and python3-fonttools. Check each page
# with `pdffonts`: its name says the font kind it holds.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

page() { # NAME ENGINE PREAMBLE BODY
    printf '%s\n' "\\documentclass{article}\\usepackage[letterpaper,margin=1in]{geometry}$3\\pagestyle{empty}" \
        "\\begin{document}$4\\end{document}" > "$1.tex"
    "$2" -interaction=batchmode "$1.tex" > /dev/null
}

# pdfTeX: Type 1 subsets.
page type1 pdflatex '\usepackage[T1]{fontenc}\usepackage{times}' \
    'Type 1 fonts of pdfTeX: quick brown foxes jump over lazy dogs; café, Größe, naïve.\par \textbf{Bold words} and \texttt{typewriter code}.'
# XeTeX: OpenType CFF as CID-keyed CFF whose charset maps each CID to another glyph index.
page xetex xelatex '\usepackage{fontspec}\setmainfont{Latin Modern Roman}\setmonofont{Latin Modern Mono}' \
    '\section*{A Heading in Bold}Sphinx of black quartz, judge my vow.\par \texttt{int typewriter = 42;}'
# LuaTeX: the same kind, Japanese and Latin.
page luatex lualatex '\usepackage{fontspec}\setmainfont{Noto Sans CJK JP}\setmonofont{Latin Modern Mono}' \
    '日本語の文書です。\par Latin words in the same face.\par \texttt{mono = 7;}'
# XeTeX: Chinese in a CJK face beside Latin in a CFF typewriter face.
page cjk xelatex '\usepackage{fontspec}\setmainfont{Noto Serif CJK SC}\setmonofont{Latin Modern Mono}' \
    '中文说明书的一行字。\par \texttt{abcdefgh ijklmnop 0123}'
# XeTeX: TrueType as CID TrueType with the identity CIDToGIDMap.
page truetype xelatex '\usepackage{fontspec}\setmainfont{DejaVu Serif}\setsansfont{DejaVu Sans}' \
    'TrueType glyphs by index: quick brown foxes.\par \sffamily Sans serif words follow here.'

cp type1.pdf "$here/font-type1.pdf"
# Ghostscript rewrites Type 1 as bare CFF (Type 1C).
gs -q -sDEVICE=pdfwrite -o "$here/font-type1c.pdf" type1.pdf
cp xetex.pdf "$here/font-cid-cff-xetex.pdf"
cp luatex.pdf "$here/font-cid-cff-luatex.pdf"
cp cjk.pdf "$here/font-cjk-xetex.pdf"
cp truetype.pdf "$here/font-cidtype2-identity.pdf"
# cairo rewrites a small Latin subset of a TrueType font as a simple TrueType font.
pdftocairo -pdf truetype.pdf "$here/font-truetype.pdf"

/usr/bin/python3 "$here/make_fonts.py"
