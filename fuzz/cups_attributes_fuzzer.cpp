// A CUPS queue's printer attributes: the input is an IPP message as a server sends it, decoded by
// libcups (ippReadIO over the bytes) and read into the queue's papers and capabilities by the same
// function that reads a real queue's attributes.
#include "platform/spooler/cups_attributes.h"

#include <cups/ipp.h>

#include <algorithm>
#include <cstring>

namespace {

struct Message {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;
};

ssize_t ReadMessage(void* context, ipp_uchar_t* buffer, size_t bytes)
{
    Message& message = *static_cast<Message*>(context);
    const std::size_t count = std::min(bytes, message.size - message.at);
    std::memcpy(buffer, message.data + message.at, count);
    message.at += count;
    return static_cast<ssize_t>(count);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Message message{data, size};
    ipp_t* attributes = ippNew();
    // Only a whole message reaches the reading: libcups answers a request with nothing less.
    if (ippReadIO(&message, ReadMessage, 1, nullptr, attributes) == IPP_STATE_DATA)
        platform::spooler::ReadQueueAttributes("Fuzz_Queue", attributes);
    ippDelete(attributes);
    return 0;
}
