// One conversation with the CUPS server the user's CUPS set-up names (CUPS_SERVER, client.conf, or
// the local default), bounded in time so that a server that is down, stopped or far away never
// holds a caller for more than a few seconds.
#pragma once

#include "platform/win32.h"

#include <cups/cups.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace platform::spooler {

// How long a connection may take to open; how long one exchange (a request and its answer, retries
// libcups makes included) may take; how long the server may stay silent while a document is sent;
// and how long a server that made a caller wait that long is not asked again. libcups adds about a
// second of its own each time it waits for a server to take a request: a server that accepts the
// connection and then says nothing costs a caller 4.3 s here (bench/bench-cups).
constexpr int kCupsConnectTimeoutMs = 3000;
constexpr double kCupsExchangeSeconds = 3.0;
constexpr double kCupsSilenceSeconds = 4.0;
constexpr double kCupsShunSeconds = 30.0;

// Why an exchange with CUPS failed: the Windows error it stands for and one line for people.
struct CupsFailure {
    DWORD error = ERROR_GEN_FAILURE;
    std::string message;
    // This machine's server takes no connection: CUPS simply does not run here.
    bool noLocalServer = false;
};

class CupsConnection final {
public:
    // Connects to the server; empty with `failure` filled in when it cannot be reached in time, or
    // when it kept a caller of this process waiting in vain a moment ago.
    static std::unique_ptr<CupsConnection> Open(CupsFailure& failure);
    ~CupsConnection();
    CupsConnection(const CupsConnection&) = delete;
    CupsConnection& operator=(const CupsConnection&) = delete;

    http_t* Http() const { return http_; }
    // The server as people name it: a socket path, or host:port.
    const std::string& Server() const { return server_; }

    // Gives the exchanges from now on `seconds` to end, retries included: a server silent beyond
    // that is given up. Every connection starts with kCupsExchangeSeconds.
    void AllowSeconds(double seconds) const;

    // The failure the last libcups call on this thread reported, worded for `what` ("the job...").
    // A server that kept the exchange waiting a second or more without an answer is not asked again
    // for kCupsShunSeconds.
    CupsFailure LastFailure(std::string_view what) const;

private:
    CupsConnection(http_t* http, std::string server);
    static int StillWaiting(http_t* http, void* connection);

    http_t* http_;
    std::string server_;
    mutable std::chrono::steady_clock::time_point exchangeStart_;
    mutable std::chrono::steady_clock::time_point deadline_;
};

// The queues the server lists (cupsGetDests2), held for as long as a caller needs one of them.
class CupsDestinations final {
public:
    // The server's queues; empty with `failure` filled in when the server could not list them.
    static std::optional<CupsDestinations> List(const CupsConnection& connection, CupsFailure& failure);
    CupsDestinations(CupsDestinations&& other) noexcept;
    CupsDestinations& operator=(CupsDestinations&&) = delete;
    ~CupsDestinations();

    int Count() const { return count_; }
    cups_dest_t* At(int index) const { return &dests_[index]; }
    // The queue with exactly this name (instances of a queue are not queues of their own), or null.
    cups_dest_t* Find(std::string_view name) const;

private:
    CupsDestinations(int count, cups_dest_t* dests) : count_(count), dests_(dests) {}

    int count_;
    cups_dest_t* dests_;
};

// The Windows error of an IPP status.
DWORD WindowsErrorOf(ipp_status_t status);

} // namespace platform::spooler
