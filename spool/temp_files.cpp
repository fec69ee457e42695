#include "spool/temp_files.h"

#include "driver/log_sink.h"
#include "pipe/text_conversions.h"
#include "platform/kernel/host.h"
#include "platform/kernel/kernel.h"
#include "platform/shell/shell.h"

#include <boost/filesystem/operations.hpp>

#include <algorithm>

namespace aio {

WidePath& WidePath::Append(std::u16string_view part)
{
    if (!text_.empty() && text_.back() != u'/' && text_.back() != u':' && !part.empty() && part.front() != u'/'
        && part.front() != u'\\')
        text_.push_back(u'/');
    const std::size_t start = text_.size();
    text_.append(part);
    std::replace(text_.begin() + static_cast<std::ptrdiff_t>(start), text_.end(), u'\\', u'/');
    return *this;
}

std::int32_t GetDataFolderPath(WidePath& path)
{
    WCHAR folder[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder)))
        return 3;
    path.Clear();
    path.Append(folder).Append(kDataFolderName);
    SHCreateDirectory(nullptr, path.Text().c_str());
    return 0;
}

std::int32_t GetTempFilePath(WidePath& path)
{
    WidePath folderPath;
    GetDataFolderPath(folderPath);

    // A folder text that does not fit the name buffer is cut short here and then refused by
    // GetTempFileNameW, which needs room for the file name after it.
    WCHAR folder[MAX_PATH] = {};
    const std::u16string& folderText = folderPath.Text();
    std::copy_n(folderText.begin(), std::min<std::size_t>(folderText.size(), MAX_PATH - 1), folder);

    QLOG(base::debug) << "In GetTempFilePath, full temp pdf file path: " << NarrowText(folder);

    WCHAR fileName[MAX_PATH] = {};
    if (folderText.size() >= MAX_PATH
        || GetTempFileNameW(folder, std::u16string(kTempFilePrefix).c_str(), 0, fileName) == 0) {
        QLOG(base::debug) << "In GetTempFilePath, GetTempFileName failed.";
        return 2;
    }

    path.Clear();
    path.Append(fileName);
    QLOG(base::debug) << "In GetTempFilePath, full temp pdf file path: " << NarrowText(path.Text());
    return 0;
}

std::int32_t RemoveFile(const WidePath& path)
{
    QLOG(base::debug) << "RemoveFile path: " << NarrowText(path.Text());
    bool removed = false;
    try {
        removed = boost::filesystem::remove(boost::filesystem::path(platform::NativePath(path.Text())));
    } catch (const boost::filesystem::filesystem_error&) {
        removed = false;
    }
    return removed ? 0 : 6;
}

} // namespace aio
