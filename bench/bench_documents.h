// Documents the benchmarks print, made with cairo on the spot.
#pragma once

#include <string>
#include <vector>

namespace bench {

// Letter pages set like a manual: 9-point serif text, 70 lines of about 100 characters.
std::string TextDocument(int pages);

// Letter pages of Chinese text (60 lines of 40 characters in an 11-point CJK face), its font
// embedded by cairo as a CID-keyed CFF subset.
std::string CjkDocument(int pages);

// One such page in a CJK font the document names but does not hold (STSong-Light through the
// UniGB-UCS2-H CMap), drawn with a system font standing in.
std::string CjkSubstituteDocument();

// One Letter page filled by a 6000 × 4000 photograph-like JPEG, embedded as it is.
std::string PictureDocument();

// One Letter page of text and rules with a half-transparent group of shapes over it: a page that
// goes as a picture.
std::string GroupDocument();

// A one-page document of about 50 KB whose compressed content paints `fills` one-point squares,
// "1 1 1 1 re f" each: a page far past the renderer's limits.
std::string ManyFillsDocument(int fills);

// A document the benchmarks print, under the name their tables give it; 0 pages when the
// benchmark is to count them.
struct Sample {
    std::string name;
    std::string document;
    int pages;
};

// Small pages past the renderer's limits, each in a few hundred bytes to 80 kilobytes: clips nested
// 14000 deep, a tiling pattern of a step of a millionth, a patch mesh whose bent patches would be
// millions of triangles, a cross-reference table of 3·10^7 entries.
std::vector<Sample> HostileDocuments();

// The two documents the renderer and print benchmarks compare: text of `textPages` pages, and
// the picture page.
std::vector<Sample> Samples(int textPages);

// A surface plot made by pgfplots (bench/mesh_plot.tex), its mesh one lattice-form Gouraud shading
// of 60 x 60 vertices coloured through a stitched colour map: kept in the tree as bench/mesh_plot.pdf.
std::string MeshPlotDocument();

// Manuals of Debian's documentation packages that are on this machine (PDF files, some compressed),
// read whole; those missing are left out.
std::vector<Sample> RealDocuments();

} // namespace bench
