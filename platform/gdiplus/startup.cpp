#include "platform/gdiplus/gdiplus.h"
#include "platform/gdiplus/image.h"

#include <mutex>
#include <set>

namespace platform::gdiplus {
namespace {

constexpr std::uint32_t kFirstVersion = 1;
constexpr std::uint32_t kLastVersion = 3;

struct Starts {
    std::mutex mutex;
    std::set<ULONG_PTR> tokens; // one per start not yet shut down
    ULONG_PTR next = 1;
};

Starts& TheStarts()
{
    static Starts* starts = new Starts();
    return *starts;
}

// There is no background thread to stand in for: hooking is all a caller has to do.
Gdiplus::Status HookNotifications(ULONG_PTR* token)
{
    if (!token)
        return Gdiplus::InvalidParameter;
    *token = 0;
    return Gdiplus::Ok;
}

void UnhookNotifications(ULONG_PTR)
{}

} // namespace

bool IsStarted()
{
    Starts& starts = TheStarts();
    std::lock_guard lock(starts.mutex);
    return !starts.tokens.empty();
}

} // namespace platform::gdiplus

namespace Gdiplus {

Status GdiplusStartup(ULONG_PTR* token, const GdiplusStartupInput* input, GdiplusStartupOutput* output)
{
    if (!token || !input || (input->SuppressBackgroundThread && !output))
        return InvalidParameter;
    if (input->GdiplusVersion < platform::gdiplus::kFirstVersion
        || input->GdiplusVersion > platform::gdiplus::kLastVersion)
        return UnsupportedGdiplusVersion;
    if (output) {
        output->NotificationHook = platform::gdiplus::HookNotifications;
        output->NotificationUnhook = platform::gdiplus::UnhookNotifications;
    }
    platform::gdiplus::Starts& starts = platform::gdiplus::TheStarts();
    std::lock_guard lock(starts.mutex);
    *token = starts.next++;
    starts.tokens.insert(*token);
    return Ok;
}

void GdiplusShutdown(ULONG_PTR token)
{
    platform::gdiplus::Starts& starts = platform::gdiplus::TheStarts();
    std::lock_guard lock(starts.mutex);
    starts.tokens.erase(token);
}

} // namespace Gdiplus
