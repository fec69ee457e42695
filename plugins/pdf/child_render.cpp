#include "plugins/pdf/child_render.h"

#include "plugins/pdf/page_covers.h"
#include "plugins/pdf/page_drawing.h"
#include "plugins/pdf/page_transfer.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define QUILLON_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUILLON_ADDRESS_SANITIZER 1
#endif
#endif

namespace pdf {
namespace {

// The child's one-byte answers.
constexpr char kVectors = 'V';
constexpr char kPicture = 'P';
constexpr char kFailed = 'X';
constexpr char kBandReady = 'B';
constexpr char kFinished = 'F';

// Sends all of `size` bytes; never raises SIGPIPE when the other side is gone.
bool Send(int socket, const void* data, std::size_t size)
{
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t sent = ::send(socket, bytes, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        bytes += sent;
        size -= std::size_t(sent);
    }
    return true;
}

// Receives exactly `size` bytes; false when the other side has closed or died first.
bool Receive(int socket, void* data, std::size_t size)
{
    auto* bytes = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t received = ::recv(socket, bytes, size, 0);
        if (received < 0 && errno == EINTR)
            continue;
        if (received <= 0)
            return false;
        bytes += received;
        size -= std::size_t(received);
    }
    return true;
}

#if !defined(QUILLON_ADDRESS_SANITIZER)
// The address space this process holds now, in bytes (0 when it cannot be read).
std::uint64_t AddressSpaceInUse()
{
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (!statm)
        return 0;
    unsigned long long pages = 0;
    const bool read = std::fscanf(statm, "%llu", &pages) == 1;
    std::fclose(statm);
    return read ? pages * std::uint64_t(::sysconf(_SC_PAGESIZE)) : 0;
}
#endif

// In the child: it dies with the program it draws for, and within its caps. AddressSanitizer
// reserves terabytes of address space for itself, so a sanitized build caps the time alone.
void EnterChild(pid_t parent)
{
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent)
        ::_exit(1);
#if !defined(QUILLON_ADDRESS_SANITIZER)
    if (const std::uint64_t inUse = AddressSpaceInUse(); inUse > 0) {
        const rlimit space{rlim_t(inUse + kChildAddressSpace), rlim_t(inUse + kChildAddressSpace)};
        ::setrlimit(RLIMIT_AS, &space);
    }
#endif
    const rlimit seconds{kChildSeconds, kChildSeconds + 1};
    ::setrlimit(RLIMIT_CPU, &seconds);
}

// Waits for the child to end; true when it exited with status 0. A host that ignores SIGCHLD has
// its children reaped for it: then what the child said decides alone.
bool Reap(pid_t child)
{
    int status = 0;
    pid_t reaped = 0;
    do {
        reaped = ::waitpid(child, &status, 0);
    } while (reaped < 0 && errno == EINTR);
    return reaped < 0 ? errno == ECHILD : WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

class SharedMemory final {
public:
    explicit SharedMemory(std::size_t bytes)
        : bytes_(bytes),
          address_(::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0))
    {}
    ~SharedMemory()
    {
        if (Valid())
            ::munmap(address_, bytes_);
    }
    SharedMemory(const SharedMemory&) = delete;
    SharedMemory& operator=(const SharedMemory&) = delete;

    bool Valid() const { return address_ != MAP_FAILED; }
    std::span<BYTE> Bytes() const { return {static_cast<BYTE*>(address_), bytes_}; }

private:
    std::size_t bytes_;
    void* address_;
};

// A descriptor closed when it goes.
class Descriptor final {
public:
    explicit Descriptor(int value = -1) : value_(value) {}
    ~Descriptor() { Close(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return value_; }
    void Reset(int value)
    {
        Close();
        value_ = value;
    }
    void Close()
    {
        if (value_ >= 0)
            ::close(value_);
        value_ = -1;
    }

private:
    int value_;
};

// Starts a child with a socket to it; the child runs `work` with its end and exits with its answer.
template <typename Work>
pid_t StartChild(Descriptor& parentEnd, Work work)
{
    int sockets[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0)
        return -1;
    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(sockets[0]);
        EnterChild(parent);
        const bool done = work(sockets[1]);
        // No exit handlers and no destructors of the parent's objects run in the child.
        ::_exit(done ? 0 : 1);
    }
    ::close(sockets[1]);
    if (child < 0) {
        ::close(sockets[0]);
        return -1;
    }
    parentEnd.Reset(sockets[0]);
    return child;
}

// Answers that the page failed, with the limit it met (None when it met none); always false.
bool SendFailure(int socket, PageLimit passed)
{
    const char answer[2] = {kFailed, static_cast<char>(passed)};
    Send(socket, answer, sizeof answer);
    return false;
}

// The child's part of a page drawn as GDI calls.
bool DrawVectors(const Page& page, const PagePlacement& placement, int left, int top, const RenderOptions& options,
                 const std::set<std::u16string>& knownFaces, const PageLimits& limits, int memory, int socket)
{
    PageTexts texts;
    PageLimit passed = PageLimit::None;
    PageAreas areas;
    PageWay way = SurveyPage(page, options, texts, limits, &areas, &passed);
    std::vector<RegionRect> regions;
    std::vector<RegionRect> holes;
    if (way == PageWay::Regions) {
        regions = RegionRectangles(areas.areas, placement, RegionMargin(placement));
        holes = CoveredRectangles(areas.covers, placement, RegionMargin(placement));
        // Regions whose pixels would take more than half the page's metafile go as the whole
        // page's picture, drawn in bands.
        if (RegionBytes(regions) > std::uint64_t(limits.metafileBytes) / 2)
            way = PageWay::Picture;
    }
    if (way == PageWay::Picture)
        return Send(socket, &kPicture, 1);
    if (way != PageWay::Vectors && way != PageWay::Regions)
        return SendFailure(socket, passed);
    HDC recording = CreateEnhMetaFileW(nullptr, nullptr, nullptr, nullptr);
    if (!recording || SetGraphicsMode(recording, GM_ADVANCED) == 0)
        return false;
    std::vector<FontRegistration> fonts;
    const bool drawn = DrawPageAsVectors(page, placement, left, top, options, recording, texts, knownFaces, fonts,
                                         limits, &passed, areas.translucentTextAsOutlines)
        && PaintRegions(page, placement, left, top, options, regions, holes, recording);
    HENHMETAFILE metafile = CloseEnhMetaFile(recording);
    if (!drawn || !metafile)
        return SendFailure(socket, passed);
    const UINT metafileBytes = GetEnhMetaFileBits(metafile, 0, nullptr);
    const std::size_t total = TransferBytes(fonts, metafileBytes, limits);
    if (metafileBytes == 0 || total == 0 || ::ftruncate(memory, off_t(total)) != 0)
        return false;
    void* mapped = ::mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_SHARED, memory, 0);
    if (mapped == MAP_FAILED)
        return false;
    BYTE* at = WriteTransfer({static_cast<BYTE*>(mapped), total}, fonts, metafileBytes, limits);
    const bool written = at && GetEnhMetaFileBits(metafile, metafileBytes, at) == metafileBytes;
    ::munmap(mapped, total);
    DeleteEnhMetaFile(metafile);
    return written && Send(socket, &kVectors, 1);
}

// The child's part of a page drawn as a picture.
bool DrawBands(BandRenderer& renderer, std::span<BYTE> buffer, int socket)
{
    if (!renderer.Record())
        return false;
    for (;;) {
        std::int32_t first = 0;
        if (!Receive(socket, &first, sizeof first))
            return false;
        if (first < 0)
            return Send(socket, &kFinished, 1);
        if (!renderer.DrawRows(first, buffer) || !Send(socket, &kBandReady, 1))
            return false;
    }
}

} // namespace

ChildBytes::~ChildBytes()
{
    if (address_)
        ::munmap(address_, size_);
}

bool ChildBytes::Map(int descriptor, std::size_t limit)
{
    struct stat status {};
    if (address_ || ::fstat(descriptor, &status) != 0 || status.st_size <= 0 || std::uint64_t(status.st_size) > limit)
        return false;
    void* mapped = ::mmap(nullptr, std::size_t(status.st_size), PROT_READ, MAP_PRIVATE, descriptor, 0);
    if (mapped == MAP_FAILED)
        return false;
    address_ = mapped;
    size_ = std::size_t(status.st_size);
    return true;
}

ChildAnswer DrawVectorsInChild(const Page& page, const PagePlacement& placement, int left, int top,
                               const RenderOptions& options, const std::set<std::u16string>& knownFaces,
                               const PageLimits& limits, ChildBytes& bytes, PageLimit* passed)
{
    Descriptor memory(::memfd_create("quillon-page", MFD_CLOEXEC));
    if (memory.Get() < 0)
        return ChildAnswer::Failed;
    Descriptor socket;
    const pid_t child = StartChild(socket, [&](int end) {
        return DrawVectors(page, placement, left, top, options, knownFaces, limits, memory.Get(), end);
    });
    if (child < 0)
        return ChildAnswer::Failed;
    char answer = 0;
    const bool answered = Receive(socket.Get(), &answer, 1);
    // A failed page's answer names the limit it met; a value that names none is taken for none.
    char limit = 0;
    if (answered && answer == kFailed && passed && Receive(socket.Get(), &limit, 1)
        && limit <= static_cast<char>(PageLimit::ClipPaths) && limit >= 0)
        *passed = static_cast<PageLimit>(limit);
    socket.Close();
    const bool exitedWell = Reap(child);
    if (!answered)
        return ChildAnswer::Failed;
    if (answer == kPicture && exitedWell)
        return ChildAnswer::Picture;
    // The bytes are only looked at once the child is gone and cannot change them any more.
    if (answer == kVectors && exitedWell && bytes.Map(memory.Get(), MaxTransferBytes(limits)))
        return ChildAnswer::Vectors;
    return ChildAnswer::Failed;
}

bool DrawPictureInChild(BandRenderer& renderer, const std::function<int(int first, int rows, const BYTE* pixels)>& take)
{
    const SharedMemory shared(renderer.BufferBytes());
    if (!shared.Valid())
        return false;
    Descriptor socket;
    const pid_t child = StartChild(socket, [&](int end) { return DrawBands(renderer, shared.Bytes(), end); });
    if (child < 0)
        return false;

    // The child only draws: which rows a band holds is decided here, never taken from the child.
    bool drawn = true;
    int first = 0;
    while (drawn && first < renderer.Height()) {
        const std::int32_t request = first;
        char message = 0;
        drawn = Send(socket.Get(), &request, sizeof request) && Receive(socket.Get(), &message, 1)
            && message == kBandReady;
        if (!drawn)
            break;
        const int rows = std::min(renderer.BandRows(), renderer.Height() - first);
        const int next = take(first, rows, shared.Bytes().data());
        drawn = next > first;
        first = next;
    }
    const std::int32_t done = -1;
    char last = 0;
    const bool finished
        = drawn && Send(socket.Get(), &done, sizeof done) && Receive(socket.Get(), &last, 1) && last == kFinished;
    // A child still waiting for its next band sees the socket close and gives up.
    socket.Close();
    const bool exitedWell = Reap(child);
    return finished && exitedWell;
}

} // namespace pdf
