#include "gltf/BinBuffer.h"

namespace orvik::gltf {

void BinBuffer::align4()
{
    static constexpr char kZeros[4] = {};
    append(kZeros, (4 - total % 4) % 4);
}

void BinBuffer::append(const void* data, std::size_t bytes)
{
    if (bytes == 0) return;
    if (pieces.empty() || !pieces.back().shared.empty()) pieces.emplace_back();
    pieces.back().made.append(static_cast<const char*>(data), bytes);
    total += bytes;
}

void BinBuffer::append(const ImageBytes& bytes)
{
    if (bytes.empty()) return;
    pieces.push_back({{}, bytes});
    total += bytes.size();
}

void BinBuffer::writeTo(std::ostream& out) const
{
    for (const Piece& p : pieces) out.write(p.bytes().data(), static_cast<std::streamsize>(p.bytes().size()));
}

}  // namespace orvik::gltf
