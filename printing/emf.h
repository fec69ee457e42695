// One enhanced metafile with its recording device context and page marks: the carrier of one page
// of the document path.
#pragma once

#include "printing/metafile.h"

#include <vector>

namespace aio::printing {

// The first value of a page mark: an 8-byte GDI comment {PageMarkSignature, 0 = start, 1 = end}.
inline constexpr std::uint32_t PageMarkSignature = 0xDEADBABEu;
inline constexpr std::uint32_t PageMarkStart = 0;
inline constexpr std::uint32_t PageMarkEnd = 1;

class Emf : public MetaFile {
public:
    Emf() = default;
    ~Emf() override;
    Emf(const Emf&) = delete;
    Emf& operator=(const Emf&) = delete;

    bool StartRecording() override;
    bool LoadFromBytes(const void* data, std::uint32_t size) override;
    // The three arguments describe the page for other kinds of metafile; an EMF page needs none.
    bool MarkPageStart(const PageSize& page_size, const ContentArea& content_area, float scale_factor) override;
    bool MarkPageEnd() override;
    bool StopRecording() override;
    std::uint32_t GetByteSize() const override;
    bool CopyBytes(void* buffer, std::uint32_t size) const override;
    bool WriteToFile(const std::u16string& path) const override;
    // The page number is not looked at: an EMF holds one picture.
    PageBounds GetBounds(std::int32_t page_number) const override;
    std::int32_t GetStartedPageCount() const override { return startedPageCount_; }
    HDC GetRecordingDC() const override { return recordingDc_; }
    bool Play(HDC target, const RECT* rect) const override;
    bool PlayWithRepair(HDC target) const override;
    HENHMETAFILE GetHandle() const override { return metafile_; }

    virtual bool StartRecordingToFile(const std::u16string& path);
    virtual bool LoadFromFile(const std::u16string& path);

private:
    bool ReadAllBytes(std::vector<BYTE>& bytes) const;
    // Holds a new metafile handle (or none), deleting the one held before.
    void Adopt(HENHMETAFILE metafile);
    // Holds a new recording context (or none), discarding a recording left open.
    void AdoptRecording(HDC dc);
    bool WritePageMark(std::uint32_t kind);

    HENHMETAFILE metafile_ = nullptr;
    HDC recordingDc_ = nullptr;
    std::int32_t startedPageCount_ = 0;
};

} // namespace aio::printing
