#include "platform/spooler/cups_connection.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <sys/socket.h>

namespace platform::spooler {
namespace {

// A server that wants a password gets none: the tool runs for a service, with nobody to ask, and
// libcups would otherwise prompt on the terminal and wait for ever.
const char* NoPassword(const char* /*prompt*/, http_t* /*http*/, const char* /*method*/, const char* /*resource*/,
                       void* /*data*/)
{
    return nullptr;
}

using Clock = std::chrono::steady_clock;

// How often a silent wait asks whether to go on waiting.
constexpr double kPollSeconds = 0.25;
// A failure that kept the caller this long makes the server shunned.
constexpr auto kLongWait = std::chrono::seconds(1);

Clock::duration Seconds(double seconds)
{
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

// Servers that kept a caller waiting in vain, and until when they are not asked again. Every
// spooler call of an operation asks for the printer afresh: without this, each would wait anew.
std::mutex shunnedMutex;
std::map<std::string, Clock::time_point> shunned;

void Shun(const std::string& server)
{
    std::lock_guard lock(shunnedMutex);
    shunned[server] = Clock::now() + Seconds(kCupsShunSeconds);
}

bool IsShunned(const std::string& server)
{
    std::lock_guard lock(shunnedMutex);
    const auto found = shunned.find(server);
    return found != shunned.end() && Clock::now() < found->second;
}

bool IsSocketPath(std::string_view server)
{
    return !server.empty() && server.front() == '/';
}

// This machine's own server, as libcups names it: its socket, or localhost when there is none.
bool IsLocalServer(std::string_view server)
{
    return IsSocketPath(server) || server == "localhost" || server == "127.0.0.1" || server == "::1";
}

std::string ServerName(const char* server, int port)
{
    if (!server)
        return "(none)";
    if (IsSocketPath(server))
        return server;
    return std::string(server) + ":" + std::to_string(port);
}

} // namespace

// libcups sets SIGPIPE aside when it first connects, so a server that goes away in the middle of a
// document is a failed write here, never a signal that ends the process.
std::unique_ptr<CupsConnection> CupsConnection::Open(CupsFailure& failure)
{
    cupsSetPasswordCB2(NoPassword, nullptr);
    const char* server = cupsServer();
    const int port = ippPort();
    const std::string name = ServerName(server, port);
    if (IsShunned(name)) {
        failure.error = RPC_S_SERVER_UNAVAILABLE;
        failure.message = "the CUPS server " + name + " did not answer a moment ago; it is not asked again for "
            + std::to_string(static_cast<int>(kCupsShunSeconds)) + " s";
        return nullptr;
    }
    const Clock::time_point start = Clock::now();
    http_t* http = server
        ? httpConnect2(server, port, nullptr, AF_UNSPEC, cupsEncryption(), 1, kCupsConnectTimeoutMs, nullptr)
        : nullptr;
    if (!http) {
        const char* reason = cupsLastErrorString();
        failure.error = RPC_S_SERVER_UNAVAILABLE;
        failure.message = "the CUPS server " + name + " cannot be reached"
            + (reason && *reason ? ": " + std::string(reason) : std::string());
        // A local server that takes no connection is no server: CUPS does not run on this machine.
        failure.noLocalServer = !server || IsLocalServer(server);
        if (Clock::now() - start >= kLongWait)
            Shun(name);
        return nullptr;
    }
    return std::unique_ptr<CupsConnection>(new CupsConnection(http, name));
}

CupsConnection::CupsConnection(http_t* http, std::string server) : http_(http), server_(std::move(server))
{
    AllowSeconds(kCupsExchangeSeconds);
    httpSetTimeout(http_, kPollSeconds, StillWaiting, this);
}

CupsConnection::~CupsConnection()
{
    httpClose(http_);
}

// Called each time the server has been silent for kPollSeconds: wait on until the deadline.
int CupsConnection::StillWaiting(http_t* /*http*/, void* connection)
{
    return Clock::now() < static_cast<const CupsConnection*>(connection)->deadline_ ? 1 : 0;
}

void CupsConnection::AllowSeconds(double seconds) const
{
    exchangeStart_ = Clock::now();
    deadline_ = exchangeStart_ + Seconds(seconds);
}

CupsFailure CupsConnection::LastFailure(std::string_view what) const
{
    const ipp_status_t status = cupsLastError();
    const char* text = cupsLastErrorString();
    const int broken = httpError(http_);
    CupsFailure failure;
    failure.message = std::string(what) + " on the CUPS server " + server_ + " failed: ";
    // No usable answer at all: the connection broke or timed out, libcups could not reconnect
    // (it reports that as an internal error), or the server says it cannot serve.
    if (broken != 0 || status == IPP_STATUS_ERROR_INTERNAL || status == IPP_STATUS_ERROR_SERVICE_UNAVAILABLE) {
        failure.error = RPC_S_SERVER_UNAVAILABLE;
        const bool waited = Clock::now() - exchangeStart_ >= kLongWait;
        failure.message += broken == ETIMEDOUT || (waited && broken == 0) ? "no answer in time"
            : broken != 0                                                 ? std::strerror(broken)
            : text && *text                                               ? text
                                                                          : "the server is unavailable";
        if (waited)
            Shun(server_);
        return failure;
    }
    failure.error = WindowsErrorOf(status);
    failure.message += text && *text ? text : ippErrorString(status);
    return failure;
}

std::optional<CupsDestinations> CupsDestinations::List(const CupsConnection& connection, CupsFailure& failure)
{
    cups_dest_t* dests = nullptr;
    connection.AllowSeconds(kCupsExchangeSeconds);
    const int count = cupsGetDests2(connection.Http(), &dests);
    // No queue at all is an answer too; a failed request is not.
    if (count <= 0 && cupsLastError() >= IPP_STATUS_ERROR_BAD_REQUEST
        && cupsLastError() != IPP_STATUS_ERROR_NOT_FOUND) {
        cupsFreeDests(count, dests);
        failure = connection.LastFailure("listing the queues");
        return std::nullopt;
    }
    return CupsDestinations(count, dests);
}

CupsDestinations::CupsDestinations(CupsDestinations&& other) noexcept : count_(other.count_), dests_(other.dests_)
{
    other.count_ = 0;
    other.dests_ = nullptr;
}

CupsDestinations::~CupsDestinations()
{
    if (dests_)
        cupsFreeDests(count_, dests_);
}

cups_dest_t* CupsDestinations::Find(std::string_view name) const
{
    for (int i = 0; i < count_; ++i) {
        if (!dests_[i].instance && dests_[i].name && name == dests_[i].name)
            return &dests_[i];
    }
    return nullptr;
}

DWORD WindowsErrorOf(ipp_status_t status)
{
    switch (status) {
    case IPP_STATUS_OK:
    case IPP_STATUS_OK_IGNORED_OR_SUBSTITUTED:
    case IPP_STATUS_OK_CONFLICTING:
        return ERROR_SUCCESS;
    case IPP_STATUS_ERROR_NOT_FOUND:
    case IPP_STATUS_ERROR_GONE:
        return ERROR_INVALID_PRINTER_NAME;
    case IPP_STATUS_ERROR_FORBIDDEN:
    case IPP_STATUS_ERROR_NOT_AUTHENTICATED:
    case IPP_STATUS_ERROR_NOT_AUTHORIZED:
    case IPP_STATUS_ERROR_CUPS_AUTHENTICATION_CANCELED:
        return ERROR_ACCESS_DENIED;
    case IPP_STATUS_ERROR_NOT_ACCEPTING_JOBS:
    case IPP_STATUS_ERROR_PRINTER_IS_DEACTIVATED:
    case IPP_STATUS_ERROR_BUSY:
    case IPP_STATUS_ERROR_TOO_MANY_JOBS:
        return ERROR_NOT_READY;
    case IPP_STATUS_ERROR_JOB_CANCELED:
        return ERROR_PRINT_CANCELLED;
    case IPP_STATUS_ERROR_DOCUMENT_FORMAT_NOT_SUPPORTED:
    case IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES:
    case IPP_STATUS_ERROR_CONFLICTING:
        return ERROR_NOT_SUPPORTED;
    case IPP_STATUS_ERROR_TIMEOUT:
        return ERROR_SEM_TIMEOUT;
    case IPP_STATUS_ERROR_SERVICE_UNAVAILABLE:
        return RPC_S_SERVER_UNAVAILABLE;
    default:
        return ERROR_GEN_FAILURE;
    }
}

} // namespace platform::spooler
