// Checked reads over one stretch of the import buffer, and the messages that
// say why a read failed.
#include "dff/ChunkView.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

ChunkView::ChunkView(const std::uint8_t* buffer, std::uint64_t bufferSize, std::uint64_t begin, std::uint64_t end,
                     ReadFailure& failure, const char* what, std::uint32_t number)
    : buffer_(buffer), bufferSize_(bufferSize), failure_(&failure), what_(what), number_(number)
{
    const std::uint64_t first = std::min(begin, bufferSize);
    const std::uint64_t last = std::clamp(end, first, bufferSize);
    begin_ = static_cast<std::uint32_t>(first);
    size_ = static_cast<std::uint32_t>(last - first);
    base_ = buffer != nullptr ? buffer + first : nullptr;
}

bool ChunkView::need(std::uint64_t offset, std::uint64_t length, const char* purpose)
{
    if (!failure_->failed && holds(offset, length)) return true;
    fail(offset, length, purpose);
    return false;
}

bool ChunkView::needCount(std::uint64_t offset, std::uint64_t count, std::uint32_t elementSize, const char* items)
{
    if (!failure_->failed && offset <= size_ && countFits(count, elementSize, size_ - offset)) return true;
    if (failure_->failed) return false;
    failure_->failed = true;
    failure_->offset = static_cast<std::uint32_t>(std::uint64_t{begin_} + std::min<std::uint64_t>(offset, size_));
    failure_->reason = declaresText(joinText(name(), " at ", hexOffset(begin_)), count, items, left(offset));
    return false;
}

std::string ChunkView::text(std::uint64_t offset, std::uint64_t length)
{
    if (!need(offset, length, "a name")) return std::string();
    return textWithin(offset, length);
}

std::string ChunkView::textWithin(std::uint64_t offset, std::uint64_t length) const
{
    const std::uint64_t available = std::min<std::uint64_t>(length, left(offset));
    if (available == 0) return std::string();
    const auto* first = reinterpret_cast<const char*>(base_ + offset);
    const auto* nul = static_cast<const char*>(std::memchr(first, 0, static_cast<std::size_t>(available)));
    return std::string(first, nul != nullptr ? static_cast<std::size_t>(nul - first) : static_cast<std::size_t>(available));
}

ChunkView ChunkView::part(std::uint64_t offset, std::uint64_t length, const char* what, std::uint32_t number) const
{
    const std::uint64_t first = std::uint64_t{begin_} + std::min<std::uint64_t>(offset, size_);
    const std::uint64_t last = first + std::min<std::uint64_t>(length, left(offset));
    return ChunkView(buffer_, bufferSize_, first, last, *failure_, what, number);
}

void ChunkView::fail(std::uint64_t offset, std::uint64_t length, const char* purpose)
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

std::string ChunkView::name() const
{
    std::string text = what_ != nullptr ? what_ : "a chunk";
    if (number_ != kNoNumber) text += joinText(" ", std::to_string(number_));
    return text;
}

std::string declaresText(const std::string& subject, std::uint64_t count, const char* items,
                         std::uint64_t bytesLeft)
{
    const bool inBytes = std::strcmp(items, "bytes") == 0;
    return joinText(subject, " declares ", groupedNumber(count), " ", items, ", ", groupedNumber(bytesLeft),
                    inBytes ? " are left" : " bytes are left");
}

std::string groupedNumber(std::uint64_t value)
{
    const std::string digits = std::to_string(value);
    std::string text;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i != 0 && (digits.size() - i) % 3 == 0) text += ',';
        text += digits[i];
    }
    return text;
}

std::string hexOffset(std::uint64_t value)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}
