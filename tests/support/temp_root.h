// A private machine root for one test: a fresh temporary folder named by QUILLON_ROOT while the
// test runs, removed with everything in it afterwards. Its CUPS server is one at a socket below the
// root, unless the test named another.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

namespace testing_support {

class TempRoot final {
public:
    TempRoot()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "quillon-test-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr)
            std::abort();
        path_ = pattern;
        const char* previous = std::getenv("QUILLON_ROOT");
        hadPrevious_ = previous != nullptr;
        if (hadPrevious_)
            previous_ = previous;
        setenv("QUILLON_ROOT", path_.c_str(), 1);
        // The root's CUPS server, where none runs: CUPS queues of the machine stay out of the test.
        // A test that brings up a server of its own names it before.
        namesCupsServer_ = std::getenv("CUPS_SERVER") == nullptr;
        if (namesCupsServer_)
            setenv("CUPS_SERVER", (path_ / "run/cups/cups.sock").c_str(), 1);
    }
    ~TempRoot()
    {
        if (namesCupsServer_)
            unsetenv("CUPS_SERVER");
        if (hadPrevious_)
            setenv("QUILLON_ROOT", previous_.c_str(), 1);
        else
            unsetenv("QUILLON_ROOT");
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempRoot(const TempRoot&) = delete;
    TempRoot& operator=(const TempRoot&) = delete;

    const std::filesystem::path& Path() const { return path_; }

    // Copies the repository's sample printers into <root>/etc/quillon/printers.
    void InstallSamplePrinters(const std::filesystem::path& sourceDir) const
    {
        const auto target = path_ / "etc/quillon/printers";
        std::filesystem::create_directories(target);
        for (const auto& entry : std::filesystem::directory_iterator(sourceDir / "printers"))
            if (entry.path().extension() == ".printer")
                std::filesystem::copy_file(entry.path(), target / entry.path().filename(),
                                           std::filesystem::copy_options::overwrite_existing);
    }

private:
    std::filesystem::path path_;
    std::string previous_;
    bool hadPrevious_ = false;
    bool namesCupsServer_ = false;
};

// The whole content of a file, or an empty string when it cannot be read.
inline std::string ReadWholeFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace testing_support
