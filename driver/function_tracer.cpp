#include "driver/function_tracer.h"

#include "driver/log_sink.h"

#include <sstream>

namespace aio {

int TraceDepth = 0;

FunctionTracer::FunctionTracer(std::string function) : function_(std::move(function))
{
    const std::string text = Text("Enter function : ");
    QLOG(base::trace) << text;
    ++TraceDepth;
}

FunctionTracer::~FunctionTracer()
{
    --TraceDepth;
    const std::string text = Text("Exit function : ");
    QLOG(base::trace) << text;
}

std::string FunctionTracer::Text(const char* what) const
{
    std::ostringstream text;
    for (int i = 0; i < TraceDepth; ++i)
        text << "  ";
    text << what << function_;
    if (line_ >= 0)
        text << " at line: " << line_;
    if (!file_.empty())
        text << " in file: " << file_;
    return text.str();
}

} // namespace aio
