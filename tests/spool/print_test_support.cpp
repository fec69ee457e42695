#include "tests/spool/print_test_support.h"

#include "tests/support/temp_root.h"

#include <cairo-pdf.h>
#include <cairo.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>

namespace print_test {

void InstallPrinter(const fs::path& root, const std::string& name, int dpi, const std::string& margins)
{
    const fs::path folder = root / "etc/quillon/printers";
    fs::create_directories(folder);
    std::ofstream(folder / (name + ".printer"))
        << "[printer]\nname = " << name << "\nresolution = " << dpi
        << "\ndefault-paper = 1\ncolor = yes\n\n"
           "[paper 1]\nname = Letter\nsize = 215.9 x 279.4\nmargins = "
        << margins << "\n\n[paper 9]\nname = A4\nsize = 210 x 297\nmargins = " << margins << "\n";
}

std::string GridPdf(int pages, double width, double height)
{
    std::string out;
    auto append = [](void* closure, const unsigned char* data, unsigned int length) {
        static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
        return CAIRO_STATUS_SUCCESS;
    };
    cairo_surface_t* surface = cairo_pdf_surface_create_for_stream(append, &out, width, height);
    cairo_t* context = cairo_create(surface);
    constexpr double kSquare = 36;
    constexpr double kColors[4][3] = {{1, 0, 0}, {0, 0.6, 0}, {0, 0, 1}, {1, 0.85, 0}};
    for (int page = 1; page <= pages; ++page) {
        for (int row = 0; row * kSquare < height; ++row) {
            for (int column = 0; column * kSquare < width; ++column) {
                const double* color = kColors[(row + column) % 4];
                cairo_set_source_rgb(context, color[0], color[1], color[2]);
                cairo_rectangle(context, column * kSquare, row * kSquare, kSquare, kSquare);
                cairo_fill(context);
            }
        }
        cairo_set_source_rgb(context, 1, 1, 1);
        cairo_rectangle(context, 0, height / 2 - 72, width, 144);
        cairo_fill(context);
        // The page's number as that many black bars: no font is needed to tell pages apart.
        cairo_set_source_rgb(context, 0, 0, 0);
        for (int bar = 0; bar < page; ++bar)
            cairo_rectangle(context, 72 + bar * 72, height / 2 - 54, 36, 108);
        cairo_fill(context);
        cairo_show_page(context);
    }
    cairo_destroy(context);
    cairo_surface_finish(surface);
    cairo_surface_destroy(surface);
    return out;
}

void WriteBytes(const fs::path& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string CommandOutput(const std::string& command, int& status)
{
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        status = -1;
        return output;
    }
    char chunk[4096];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0)
        output.append(chunk, got);
    status = pclose(pipe);
    return output;
}

std::string CommandOutput(const std::string& command)
{
    int status = 0;
    return CommandOutput(command, status);
}

Raster RenderPage(const fs::path& pdf, int page, int dpi)
{
    const std::string command = "pdftoppm -cropbox -r " + std::to_string(dpi) + " -f " + std::to_string(page) + " -l "
        + std::to_string(page) + " '" + pdf.string() + "'";
    int status = 0;
    const std::string ppm = CommandOutput(command, status);
    Raster raster;
    // P6, width, height, 255, one blank, then the pixels.
    std::istringstream header(ppm);
    std::string magic;
    int maximum = 0;
    header >> magic >> raster.width >> raster.height >> maximum;
    if (status != 0 || magic != "P6" || maximum != 255 || raster.width <= 0 || raster.height <= 0) {
        ADD_FAILURE() << command << " failed";
        return Raster{};
    }
    const std::size_t start = static_cast<std::size_t>(header.tellg()) + 1;
    const std::size_t bytes = std::size_t(raster.width) * raster.height * 3;
    if (ppm.size() < start + bytes) {
        ADD_FAILURE() << command << " gave a short picture";
        return Raster{};
    }
    raster.rgb.assign(ppm.begin() + static_cast<std::ptrdiff_t>(start),
                      ppm.begin() + static_cast<std::ptrdiff_t>(start + bytes));
    return raster;
}

int PageCount(const fs::path& pdf)
{
    int status = 0;
    const std::string info = CommandOutput("pdfinfo '" + pdf.string() + "' 2>/dev/null", status);
    std::smatch match;
    static const std::regex kPages("Pages: +([0-9]+)");
    return status == 0 && std::regex_search(info, match, kPages) ? std::stoi(match[1]) : -1;
}

std::vector<std::string> DebugMessages(const fs::path& logFolder)
{
    std::vector<fs::path> files;
    std::error_code failure;
    for (const auto& entry : fs::directory_iterator(logFolder, failure))
        files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    std::vector<std::string> messages;
    static const std::regex kRecord(R"(^debug \[[^\]]*\] : (.*)\r$)");
    for (const fs::path& file : files) {
        std::istringstream lines(testing_support::ReadWholeFile(file));
        std::string line;
        std::smatch match;
        while (std::getline(lines, line))
            if (std::regex_match(line, match, kRecord))
                messages.push_back(match[1]);
    }
    return messages;
}

std::vector<std::string> PageFilesLeft(const fs::path& root)
{
    std::vector<std::string> names;
    std::error_code failure;
    for (const auto& entry : fs::directory_iterator(root / "var/lib/Marlowin", failure))
        if (entry.path().filename().string().rfind("ZVPrintFile", 0) == 0)
            names.push_back(entry.path().filename().string());
    return names;
}

fs::path SpoolFolder(const fs::path& root, const std::string& printer)
{
    return root / "var/spool/quillon" / printer;
}

} // namespace print_test
