#include "fuzz/fuzz_support.h"

#include <boost/log/core.hpp>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string_view>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace fuzz {
namespace {

std::string& RootPath()
{
    static std::string path;
    return path;
}

void RemoveRoot()
{
    std::error_code ignored;
    std::filesystem::remove_all(RootPath(), ignored);
}

} // namespace

const std::string& UsePrivateRoot()
{
    std::string& path = RootPath();
    if (!path.empty())
        return path;
    std::string pattern = (std::filesystem::temp_directory_path() / "quillon-fuzz-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        std::abort();
    path = pattern;
    const std::filesystem::path printers = std::filesystem::path(path) / "etc/quillon/printers";
    std::filesystem::create_directories(printers);
    for (const auto& entry :
         std::filesystem::directory_iterator(std::filesystem::path(QUILLON_SOURCE_DIR) / "printers"))
        if (entry.path().extension() == ".printer")
            std::filesystem::copy_file(entry.path(), printers / entry.path().filename());
    setenv("QUILLON_ROOT", path.c_str(), 1);
    // No CUPS server answers below the root: the machine's own queues stay out of the run.
    setenv("CUPS_SERVER", (path + "/run/cups/cups.sock").c_str(), 1);
    std::atexit(RemoveRoot);
    return path;
}

void SilenceConsole()
{
    std::fflush(stdout);
    const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (devNull >= 0) {
        ::dup2(devNull, STDOUT_FILENO);
        ::close(devNull);
    }
    boost::log::core::get()->set_logging_enabled(false);
}

bool RegisterSampleFont()
{
    std::ifstream in("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", std::ios::binary);
    const std::vector<char> program((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    WCHAR name[LF_FACESIZE] = {};
    return !program.empty()
        && AddFontMemResourceWithTextW(program.data(), static_cast<DWORD>(program.size()), nullptr, 0, name)
        && std::u16string_view(name) == SampleFontFace;
}

bool WriteFile(const std::string& path, std::span<const std::uint8_t> bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out.flush());
}

void PrintAndThrowAway(const char16_t* printer, const std::function<void(HDC)>& print)
{
    HDC dc = CreateDCW(nullptr, printer, nullptr, nullptr);
    if (!dc)
        std::abort();
    DOCINFOW document{};
    document.cbSize = sizeof document;
    document.lpszDocName = u"fuzz";
    if (StartDocW(dc, &document) > 0) {
        print(dc);
        AbortDoc(dc);
    }
    DeleteDC(dc);
}

} // namespace fuzz
