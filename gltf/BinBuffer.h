// The bytes of an export's one buffer. Bytes the exporter makes (vertices,
// indices, animation keys) are copied in; an image's bytes are held as the
// shared bytes its source gave, and written out from there: a model's
// textures can be tens of MB that a copy would take fresh memory for.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

#include "gltf/ImageSource.h"

namespace orvik::gltf {

class BinBuffer {
public:
    std::size_t size() const { return total; }
    bool empty() const { return total == 0; }
    // Zeros up to the next multiple of four bytes.
    void align4();
    void append(const void* data, std::size_t bytes);
    void append(const ImageBytes& bytes);
    void writeTo(std::ostream& out) const;

private:
    struct Piece {
        std::string made;
        ImageBytes shared;
        const std::string& bytes() const { return shared.empty() ? made : shared.str(); }
    };
    std::vector<Piece> pieces;
    std::size_t total = 0;
};

}  // namespace orvik::gltf
