// One request/reply exchange with the tool, played from the service's side of the pipe.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace quillon::service {

struct ExchangeSettings {
    std::string toolPath;                             // the tool program to start
    std::string socketPath;                           // where the pipe socket is made
    std::chrono::milliseconds connectTimeout{10'000}; // for the tool to connect, and to end after its reply
    std::chrono::milliseconds replyTimeout{300'000};  // for the operation itself (a print job may be long)
    std::chrono::milliseconds lockTimeout{600'000};   // for another service on the same pipe to finish
    bool quiet = false;                               // drop the tool's console output
    std::string progressLog; // when set, the tool's log folder: the job's pages are shown as they go
};

struct ExchangeResult {
    bool replied = false; // a reply message arrived; it may be empty
    std::string reply;    // the reply's bytes
    std::string error;    // empty when the tool connected, replied and exited with status 0
};

// A span of time for messages: "10 s", "0.5 s" (tenths at most).
std::string SecondsText(std::chrono::milliseconds span);

// Makes the pipe, starts the tool with switchText, sends request as one message, reads one reply
// and waits for the tool to end. Every road out removes the socket and leaves no tool running.
ExchangeResult RunExchange(const ExchangeSettings& settings, const std::string& switchText, std::string_view request);

} // namespace quillon::service
