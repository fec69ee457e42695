// Writes a trace line when a traced function is entered and when it is left.
#pragma once

#include <string>

namespace aio {

// Number of traced calls currently open in the process.
extern int TraceDepth;

class FunctionTracer final {
public:
    // Writes the entry line of `function` and opens one level of indentation.
    explicit FunctionTracer(std::string function);
    // Closes the level and writes the exit line with the entry's indentation.
    ~FunctionTracer();

    FunctionTracer(const FunctionTracer&) = delete;
    FunctionTracer& operator=(const FunctionTracer&) = delete;

private:
    std::string Text(const char* what) const;

    int line_ = -1;
    std::string function_;
    std::string file_;
};

} // namespace aio
