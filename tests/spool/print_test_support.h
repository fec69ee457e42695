// What the tests of the print paths share: virtual printers written for a test, PDF documents made
// with cairo, job pages looked at through pdftoppm, and the log's messages.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace print_test {

namespace fs = std::filesystem;

// Writes a virtual printer into <root>/etc/quillon/printers: Letter (paper 1, the default) and A4
// (paper 9), both with the given margins ("M" or "LEFT TOP RIGHT BOTTOM", millimetres).
void InstallPrinter(const fs::path& root, const std::string& name, int dpi, const std::string& margins);

// A document of `pages` pages of width × height points, each covered edge to edge by half-inch
// squares in turn red, green, blue and yellow, with a white band across the middle holding as
// many black bars as the page's number. Made by cairo.
std::string GridPdf(int pages, double width = 612, double height = 792);

void WriteBytes(const fs::path& path, const std::string& bytes);

// What a shell command wrote on its standard output, with its exit status or without.
std::string CommandOutput(const std::string& command, int& status);
std::string CommandOutput(const std::string& command);

// One page rendered by pdftoppm: 8-bit R, G, B rows.
struct Raster {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;

    const std::uint8_t* At(int x, int y) const { return rgb.data() + (std::size_t(y) * width + x) * 3; }
};

// Renders page `page` (1-based) at `dpi`, its crop box as a viewer shows it; an empty raster when
// pdftoppm fails.
Raster RenderPage(const fs::path& pdf, int page, int dpi);

// The number of pages of a PDF as pdfinfo reads it, -1 when it cannot.
int PageCount(const fs::path& pdf);

// The messages of every record at level debug in the log files of a folder, in order.
std::vector<std::string> DebugMessages(const fs::path& logFolder);

// The page files the document path left in the data folder <root>/var/lib/Marlowin.
std::vector<std::string> PageFilesLeft(const fs::path& root);

// The folder a virtual printer's jobs land in.
fs::path SpoolFolder(const fs::path& root, const std::string& printer);

} // namespace print_test
