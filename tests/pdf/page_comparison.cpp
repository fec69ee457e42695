#include "tests/pdf/page_comparison.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>

namespace print_test {

std::vector<std::string> Words(const std::string& pdf, int first, int last)
{
    std::istringstream text(CommandOutput("pdftotext -raw -f " + std::to_string(first) + " -l " + std::to_string(last)
                                          + " '" + pdf + "' - 2>/dev/null"));
    std::vector<std::string> words;
    for (std::string word; text >> word;)
        words.push_back(word);
    return words;
}

int Darkness(const std::uint8_t* pixel)
{
    return 765 - pixel[0] - pixel[1] - pixel[2];
}

namespace {

// How far, in darkness, a pixel may lie beyond the source's pixels around it before it is stray.
constexpr int kStray = 96;

// Whether a pixel was printed in another colour: far lighter or darker, or of another hue that
// may be as dark (a blend mode's result, a mask's value).
bool Differ(const std::uint8_t* wanted, const std::uint8_t* printed)
{
    if (std::abs(Darkness(printed) - Darkness(wanted)) > 144)
        return true;
    for (int channel = 0; channel < 3; ++channel)
        if (std::abs(int(wanted[channel]) - int(printed[channel])) > 48)
            return true;
    return false;
}

} // namespace

Comparison Compare(const Raster& wanted, const Raster& printed, int dpi)
{
    Comparison result;
    const int margin = int(kMarginInches * dpi) + 2;
    if (wanted.width != printed.width || wanted.height != printed.height || printed.width <= 2 * margin
        || printed.height <= 2 * margin) {
        result.differingPatches = 1.0;
        return result;
    }
    const int x0 = margin, y0 = margin, x1 = printed.width - margin, y1 = printed.height - margin;
    std::size_t compared = 0, differing = 0, stray = 0;
    std::vector<double> rowsWanted(printed.height), rowsPrinted(printed.height);
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            const int darkness = Darkness(wanted.At(x, y));
            const int printedDarkness = Darkness(printed.At(x, y));
            rowsWanted[y] += darkness;
            rowsPrinted[y] += printedDarkness;
            int lightest = darkness, darkest = darkness;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    lightest = std::min(lightest, Darkness(wanted.At(x + dx, y + dy)));
                    darkest = std::max(darkest, Darkness(wanted.At(x + dx, y + dy)));
                }
            stray += printedDarkness < lightest - kStray || printedDarkness > darkest + kStray ? 1 : 0;
            bool patch = true;
            for (int dy = -1; dy <= 1 && patch; ++dy)
                for (int dx = -1; dx <= 1 && patch; ++dx)
                    patch = std::abs(Darkness(wanted.At(x + dx, y + dy)) - darkness) <= 24;
            if (!patch)
                continue;
            ++compared;
            differing += Differ(wanted.At(x, y), printed.At(x, y)) ? 1 : 0;
        }
    }
    result.differingPatches = compared ? double(differing) / double(compared) : 1.0;
    result.strayPixels = double(stray) / (double(x1 - x0) * double(y1 - y0));
    const int window = dpi / 20;
    const double full = 765.0 * (x1 - x0) * window;
    auto ink = [](const std::vector<double>& rows, int from, int to) {
        double sum = 0;
        for (int row = from; row < to; ++row)
            sum += rows[row];
        return sum;
    };
    for (int y = y0 + 1; y + window + 1 <= y1; ++y) {
        const double wantedInk = ink(rowsWanted, y, y + window);
        if (wantedInk > 0.01 * full)
            result.worstLoss = std::max(result.worstLoss, 1 - ink(rowsPrinted, y - 1, y + window + 1) / wantedInk);
        result.worstGain = std::max(result.worstGain,
                                    (ink(rowsPrinted, y, y + window) - ink(rowsWanted, y - 1, y + window + 1)) / full);
    }
    return result;
}

} // namespace print_test
