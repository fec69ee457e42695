// The process-wide logger, the file sink behind it and the log statement used by every folder.
#pragma once

#include "driver/severity.h"

#include <boost/log/sources/global_logger_storage.hpp>
#include <boost/log/sources/record_ostream.hpp>
#include <boost/log/sources/severity_logger.hpp>

#include <string>

namespace aio {

// The log folder below the log root folder, which holds the files QuillonTool_YYYYMMDD_NNN.log
// (the day's local date, then a counter from 000 that goes on across midnight).
inline constexpr const char* kLogFolder = "/log";
// A log file is continued in the next one when it would reach this size.
inline constexpr unsigned long long kLogRotationSize = 10ull * 1024 * 1024;

// Sets up the file sink below `root` with the minimum level `minimum`. Opens no file itself: the
// first accepted record does, once the log folder is made (0750) and found to be one no other user
// may change (else standard error says why, once). Each record is one line: control characters
// inside it are written as "\xHH". A log that cannot be written never ends the run: records are
// dropped.
// The root is 8-bit text, each byte one character of ISO 8859-1.
void ConfigureLogging(const std::string& root, base::severity_level minimum);
// The same for a root folder that 8-bit text cannot carry (characters above U+00FF).
void ConfigureLogging(const std::u16string& root, base::severity_level minimum);

} // namespace aio

BOOST_LOG_INLINE_GLOBAL_LOGGER_DEFAULT(ProcessLogger, boost::log::sources::severity_logger_mt<base::severity_level>)

// Opens a record at `level`; the streamed message is only evaluated when the sink accepts the record.
#define QLOG(level) BOOST_LOG_SEV(ProcessLogger::get(), (level))
