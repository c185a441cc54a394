// The bounded reading vocabulary of the format readers: a view of one stretch
// of a file buffer with checked little-endian reads, the record of the first
// read that failed, and the messages that say why. Header only and standard
// library only.
#pragma once

#include <algorithm>
#include <cassert>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <span>
#include <string>

#include "format/Chunk.h"
#include "format/RecordSpan.h"

// Why the reading of one buffer ended early. Set by the first failed read
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

// Whether a buffer of that many bytes can be viewed whole (offsets are 32-bit).
constexpr bool viewable(std::uint64_t bufferSize)
{
    return bufferSize <= 0xFFFFFFFFu;
}

// Bytes [begin, end) of the buffer, named for messages ("geometry", 3). All
// offsets are relative to begin. A read outside the view records the failure
// in the reading's ReadFailure and gives zero (or an empty run or text), and
// so does every read once any read of that buffer has failed: a walk checks
// failed() once where it matters instead of after every read. Buffers are at
// most 4 GiB - 1 bytes (offsets are 32-bit).
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
    // The length bytes at offset, or an empty span when the view does not
    // hold them. Never fails.
    std::span<const std::uint8_t> span(std::uint64_t offset, std::uint64_t length) const
    {
        if (!holds(offset, length)) return {};
        return {base_ + offset, static_cast<std::size_t>(length)};
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

// A number with thousands separated by commas: 48000 -> "48,000".
inline std::string groupedNumber(std::uint64_t value)
{
    const std::string digits = std::to_string(value);
    std::string text;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i != 0 && (digits.size() - i) % 3 == 0) text += ',';
        text += digits[i];
    }
    return text;
}

// "0x1A2B0".
inline std::string hexOffset(std::uint64_t value)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

// Why a claim in the file cannot be met: "subject declares count items, n
// bytes are left", or for a count of bytes "subject declares count bytes, n
// are left". The one form of that message.
inline std::string declaresText(const std::string& subject, std::uint64_t count, const char* items,
                                std::uint64_t bytesLeft)
{
    const bool inBytes = std::strcmp(items, "bytes") == 0;
    return joinText(subject, " declares ", groupedNumber(count), " ", items, ", ", groupedNumber(bytesLeft),
                    inBytes ? " are left" : " bytes are left");
}

inline ChunkView::ChunkView(const std::uint8_t* buffer, std::uint64_t bufferSize, std::uint64_t begin,
                            std::uint64_t end, ReadFailure& failure, const char* what, std::uint32_t number)
    : buffer_(buffer), bufferSize_(bufferSize), failure_(&failure), what_(what), number_(number)
{
    const std::uint64_t first = std::min(begin, bufferSize);
    const std::uint64_t last = std::clamp(end, first, bufferSize);
    begin_ = static_cast<std::uint32_t>(first);
    size_ = static_cast<std::uint32_t>(last - first);
    base_ = buffer != nullptr ? buffer + first : nullptr;
}

inline bool ChunkView::need(std::uint64_t offset, std::uint64_t length, const char* purpose)
{
    if (!failure_->failed && holds(offset, length)) return true;
    fail(offset, length, purpose);
    return false;
}

inline bool ChunkView::needCount(std::uint64_t offset, std::uint64_t count, std::uint32_t elementSize,
                                 const char* items)
{
    if (!failure_->failed && offset <= size_ && countFits(count, elementSize, size_ - offset)) return true;
    if (failure_->failed) return false;
    failure_->failed = true;
    failure_->offset = static_cast<std::uint32_t>(std::uint64_t{begin_} + std::min<std::uint64_t>(offset, size_));
    failure_->reason = declaresText(joinText(name(), " at ", hexOffset(begin_)), count, items, left(offset));
    return false;
}

inline std::string ChunkView::text(std::uint64_t offset, std::uint64_t length)
{
    if (!need(offset, length, "a name")) return std::string();
    return textWithin(offset, length);
}

inline std::string ChunkView::textWithin(std::uint64_t offset, std::uint64_t length) const
{
    const std::uint64_t available = std::min<std::uint64_t>(length, left(offset));
    if (available == 0) return std::string();
    const auto* first = reinterpret_cast<const char*>(base_ + offset);
    const auto* nul = static_cast<const char*>(std::memchr(first, 0, static_cast<std::size_t>(available)));
    return std::string(first,
                       nul != nullptr ? static_cast<std::size_t>(nul - first) : static_cast<std::size_t>(available));
}

inline ChunkView ChunkView::part(std::uint64_t offset, std::uint64_t length, const char* what,
                                 std::uint32_t number) const
{
    const std::uint64_t first = std::uint64_t{begin_} + std::min<std::uint64_t>(offset, size_);
    const std::uint64_t last = first + std::min<std::uint64_t>(length, left(offset));
    return ChunkView(buffer_, bufferSize_, first, last, *failure_, what, number);
}

inline void ChunkView::fail(std::uint64_t offset, std::uint64_t length, const char* purpose)
{
    if (failure_->failed) return;
    failure_->failed = true;
    const std::uint64_t at = std::uint64_t{begin_} + std::min<std::uint64_t>(offset, size_);
    failure_->offset = static_cast<std::uint32_t>(at);
    std::string reason = joinText(name(), " at ", hexOffset(begin_), " needs ", groupedNumber(length), " bytes");
    if (purpose != nullptr)
        reason += joinText(" for ", purpose);
    else if (offset != 0)
        reason += joinText(" at ", hexOffset(at));
    const std::uint64_t bytesLeft = offset <= size_ ? size_ - offset : 0;
    reason += joinText(", ", groupedNumber(bytesLeft), bytesLeft == 1 ? " is left" : " are left");
    failure_->reason = std::move(reason);
}

inline std::string ChunkView::name() const
{
    std::string text = what_ != nullptr ? what_ : "a chunk";
    if (number_ != kNoNumber) text += joinText(" ", std::to_string(number_));
    return text;
}
