// The bounded reading vocabulary of the readers: a view of one stretch of the
// import buffer with checked little-endian reads, and the record of the first
// read that failed, which ends the import.
#pragma once

#include <cassert>
#include <cstdint>
#include <string>

#include "dff/Chunk.h"
#include "dff/RecordSpan.h"

// Why the reading of one import ended early. Set by the first failed read
// only; every later read through any view gives zero and sets nothing.
struct ReadFailure {
    bool failed = false;
    std::uint32_t offset = 0;  // buffer offset where the failed read would have started
    std::string reason;        // "geometry 3 at 0x1A2B0 needs 48,000 bytes for its vertices, 1,200 are left"
};

// "count × size fits in what is left", without multiplying: the one form of
// the check on counts taken from a file.
constexpr bool countFits(std::uint64_t count, std::uint64_t elementSize, std::uint64_t bytesLeft)
{
    return elementSize == 0 || count <= bytesLeft / elementSize;
}

// Bytes [begin, end) of the buffer, named for messages ("geometry", 3). All
// offsets are relative to begin. A read outside the view records the failure
// in the import's ReadFailure and gives zero (or null, or an empty text), and
// so does every read once any read of the import has failed: a walk checks
// failed() once where it matters instead of after every read.
class ChunkView {
public:
    static constexpr std::uint32_t kNoNumber = 0xFFFFFFFF;

    ChunkView(const std::uint8_t* buffer, std::uint64_t bufferSize, std::uint64_t begin, std::uint64_t end,
              ReadFailure& failure, const char* what, std::uint32_t number = kNoNumber);

    std::uint32_t begin() const { return begin_; }
    std::uint32_t end() const { return begin_ + size_; }
    std::uint32_t size() const { return size_; }
    bool failed() const { return failure_->failed; }
    // Bytes of the view from offset on; 0 when offset is past its end.
    std::uint32_t left(std::uint64_t offset) const
    {
        return offset <= size_ ? static_cast<std::uint32_t>(size_ - offset) : 0;
    }
    // Whether the view holds length bytes at offset. Never fails.
    bool holds(std::uint64_t offset, std::uint64_t length) const { return offset <= size_ && size_ - offset >= length; }
    // holds, and otherwise the import fails: "needs length bytes for purpose".
    bool need(std::uint64_t offset, std::uint64_t length, const char* purpose);
    // Whether count items of elementSize bytes fit from offset on; otherwise
    // the import fails: "declares count items, n bytes are left".
    bool needCount(std::uint64_t offset, std::uint64_t count, std::uint32_t elementSize, const char* items);

    std::uint8_t u8(std::uint64_t offset) { return read(offset, 1) ? base_[offset] : std::uint8_t{0}; }
    std::uint16_t u16(std::uint64_t offset) { return read(offset, 2) ? loadU16(base_ + offset) : std::uint16_t{0}; }
    std::uint32_t u32(std::uint64_t offset) { return read(offset, 4) ? loadU32(base_ + offset) : 0u; }
    std::int32_t i32(std::uint64_t offset) { return static_cast<std::int32_t>(u32(offset)); }
    float f32(std::uint64_t offset) { return read(offset, 4) ? loadF32(base_ + offset) : 0.0f; }
    ChunkHeader header(std::uint64_t offset)
    {
        return read(offset, kChunkHeaderSize) ? loadHeader(base_ + offset) : ChunkHeader{};
    }
    // count records of one kind from offset on, stride bytes apart (the
    // kind's size unless the layout puts something between them). When the
    // view does not hold them all the import fails as need() fails and the
    // run is empty.
    template <class Record>
    Records<Record> records(std::uint64_t offset, std::uint64_t count, const char* purpose,
                            std::uint32_t stride = Record::kSize)
    {
        assert(stride >= Record::kSize);
        const std::uint64_t length = count == 0 ? 0 : (count - 1) * std::uint64_t{stride} + Record::kSize;
        if (!need(offset, length, purpose) || count == 0) return {};
        return Records<Record>(base_ + offset, static_cast<std::uint32_t>(count), stride);
    }
    // The text of a string field of length bytes: up to its first NUL (the
    // field need not hold one). Fails when the view does not hold the field.
    std::string text(std::uint64_t offset, std::uint64_t length);
    // The same, for a field that may run past the view: only the bytes the
    // view holds are looked at. Never fails.
    std::string textWithin(std::uint64_t offset, std::uint64_t length) const;
    // The part of this view from offset on, at most length bytes; never fails
    // (a part past the end is empty).
    ChunkView part(std::uint64_t offset, std::uint64_t length, const char* what,
                   std::uint32_t number = kNoNumber) const;

private:
    bool read(std::uint64_t offset, std::uint64_t length)
    {
        if (!failure_->failed && holds(offset, length)) return true;
        fail(offset, length, nullptr);
        return false;
    }
    void fail(std::uint64_t offset, std::uint64_t length, const char* purpose);
    std::string name() const;

    const std::uint8_t* base_;  // the byte at begin (null for an empty view)
    const std::uint8_t* buffer_;
    std::uint64_t bufferSize_;
    std::uint32_t begin_;
    std::uint32_t size_;
    ReadFailure* failure_;
    const char* what_;
    std::uint32_t number_;
};

// The parts, one after another. Messages are put together with this rather
// than with chains of operator+, which GCC 12 at -O3 warns about (-Wrestrict).
template <class... Parts>
std::string joinText(const Parts&... parts)
{
    std::string text;
    ((text += parts), ...);
    return text;
}

// Why a claim in the file cannot be met: "subject declares count items, n
// bytes are left", or for a count of bytes "subject declares count bytes, n
// are left". The one form of that message.
std::string declaresText(const std::string& subject, std::uint64_t count, const char* items,
                         std::uint64_t bytesLeft);

// A number with thousands separated by commas: 48000 -> "48,000".
std::string groupedNumber(std::uint64_t value);
// "0x1A2B0".
std::string hexOffset(std::uint64_t value);
