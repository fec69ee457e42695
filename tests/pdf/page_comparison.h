// How the end-to-end tests look at a printed page beside its source: rendered by pdftoppm, compared
// patch by patch inside the printable area, and read back word by word with pdftotext.
#pragma once

#include "tests/spool/print_test_support.h"

#include <string>
#include <vector>

namespace print_test {

// The printable area of the printers these tests install starts 4.23 mm (a sixth of an inch) in
// from every edge of the sheet.
constexpr double kMarginInches = 1.0 / 6;

// The words of pages [first, last] as pdftotext reads them in the order the page draws them (its
// layout analysis breaks turned lines into pieces, the source's as the job's).
std::vector<std::string> Words(const std::string& pdf, int first, int last);

// How dark a pixel is: 0 for white, 765 for black.
int Darkness(const std::uint8_t* pixel);

// The job's page against the source's inside the printable area, shrunk by a pixel: the share of
// pixels of one-coloured patches of the source (their neighbours alike, so edges each renderer
// smooths its own way are left out) printed in another colour; and, over windows of rows a
// twentieth of an inch high, the most ink a window lost (against its own ink) or gained (against a
// window full of ink), which a lost rule, a line cut through or a seam changes. The job's ink is
// looked for a row beyond the window's either side: renderers may put an edge a pixel apart.
struct Comparison {
    double differingPatches = 0;
    // The share of pixels far lighter or darker than every pixel of the source around them: a
    // seam where two smoothed edges meet, or a hairline left out.
    double strayPixels = 0;
    double worstLoss = 0;
    double worstGain = 0;
};

// Compares two rasters of the same size rendered at `dpi`; a raster of another size compares as
// every patch differing.
Comparison Compare(const Raster& wanted, const Raster& printed, int dpi);

} // namespace print_test
