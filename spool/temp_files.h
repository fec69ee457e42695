// The tool's machine-wide data folder, its temporary page files, and their removal.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace aio {

// A wide path value built by appending parts: parts are joined with "/", and every "\" of an
// appended part is stored as "/".
class WidePath final {
public:
    WidePath() = default;
    explicit WidePath(std::u16string_view text) { Append(text); }

    // Appends a part, putting a "/" in between when needed.
    WidePath& Append(std::u16string_view part);
    // Empties the path.
    void Clear() { text_.clear(); }

    const std::u16string& Text() const { return text_; }
    bool Empty() const { return text_.empty(); }

private:
    std::u16string text_;
};

// The name of the tool's folder in the common application-data folder.
inline constexpr std::u16string_view kDataFolderName = u"Marlowin";
// The prefix of the temporary page files.
inline constexpr std::u16string_view kTempFilePrefix = u"ZVPrintFile";

// Names and creates the data folder; 0, or 3 when the shell cannot name the common folder.
std::int32_t GetDataFolderPath(WidePath& path);
// Makes a new empty, uniquely named file in the data folder; 0, or 2 on failure.
std::int32_t GetTempFilePath(WidePath& path);
// Removes the file at `path`; 0 when a file was removed, 6 when none was.
std::int32_t RemoveFile(const WidePath& path);

} // namespace aio
