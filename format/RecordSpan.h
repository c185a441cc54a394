// A run of records of one kind laid over a file buffer: where the first
// one starts, how many there are and how far apart they lie. Only a ChunkView
// makes one, after checking that every record of the run lies in its view, so
// taking record i below size() needs no check of its own (asserted in debug
// builds). Record i is decoded when it is taken, by its kind's decode (the
// model's kinds are in dff/Layout.h); nothing is copied out of the buffer
// beforehand.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>

template <class Record>
class Records {
public:
    Records() = default;

    std::uint32_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    Record operator[](std::uint32_t i) const
    {
        assert(i < count_);
        return Record::decode(base_ + std::size_t{i} * stride_);
    }
    // Where record i lies in the buffer.
    const std::uint8_t* address(std::uint32_t i) const
    {
        assert(i < count_);
        return base_ + std::size_t{i} * stride_;
    }

private:
    friend class ChunkView;
    Records(const std::uint8_t* base, std::uint32_t count, std::uint32_t stride)
        : base_(base), count_(count), stride_(stride)
    {
    }

    const std::uint8_t* base_ = nullptr;
    std::uint32_t count_ = 0;
    std::uint32_t stride_ = Record::kSize;
};
