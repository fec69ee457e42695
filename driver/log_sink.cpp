#include "driver/log_sink.h"

#include "pipe/text_conversions.h"
#include "platform/kernel/host.h"

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/log/attributes/clock.hpp>
#include <boost/log/attributes/counter.hpp>
#include <boost/log/core.hpp>
#include <boost/log/expressions.hpp>
#include <boost/log/sinks/sync_frontend.hpp>
#include <boost/log/sinks/text_file_backend.hpp>
#include <boost/log/support/date_time.hpp>
#include <boost/log/utility/exception_handler.hpp>
#include <boost/log/utility/setup/common_attributes.hpp>

#include <ios>

namespace aio {

namespace {

namespace logging = boost::log;
namespace expr = boost::log::expressions;
namespace sinks = boost::log::sinks;

} // namespace

void ConfigureLogging(const std::string& root, base::severity_level minimum)
{
    ConfigureLogging(WidenText(root), minimum);
}

void ConfigureLogging(const std::u16string& root, base::severity_level minimum)
{
    // Boost.Log opens the file itself, so the folder is turned into the file system's own form
    // here, drive paths included.
    const std::string pattern = platform::NativePath(root) + kLogFilePattern;

    auto backend = boost::make_shared<sinks::text_file_backend>(
        logging::keywords::file_name = pattern, logging::keywords::open_mode = std::ios_base::out | std::ios_base::app,
        logging::keywords::rotation_size = kLogRotationSize,
        logging::keywords::time_based_rotation = sinks::file::rotation_at_time_point(0, 0, 0),
        logging::keywords::auto_flush = true);

    using Sink = sinks::synchronous_sink<sinks::text_file_backend>;
    auto sink = boost::make_shared<Sink>(backend);

    // The file is 8-bit text with CR LF line ends; the backend itself adds no line feed to a record
    // that already ends in one.
    sink->set_formatter(expr::format("%1% [%2%] : %3%\r\n") % expr::attr<base::severity_level>("Severity")
                        % expr::format_date_time<boost::posix_time::ptime>("TimeStamp", "%Y-%b-%d %H:%M:%S.%f")
                        % expr::smessage);
    sink->set_filter(expr::attr<base::severity_level>("Severity") >= minimum);

    // A log folder that cannot be made or a file that cannot be opened raises from every log
    // statement; the tool must still do its work and answer on the pipe, so such records are dropped.
    sink->set_exception_handler(logging::make_exception_suppressor());

    auto core = logging::core::get();
    core->add_sink(sink);
    logging::add_common_attributes();
}

} // namespace aio
