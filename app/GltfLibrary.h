// The glTF library (tinygltf, header-only), configured the same way in every
// file that includes it: no image decoding or encoding (images are embedded
// as the files' bytes) and no image files read from disk. GltfLibrary.cpp
// holds the library's implementation.
#pragma once

#ifndef TINYGLTF_NO_STB_IMAGE
#define TINYGLTF_NO_STB_IMAGE
#endif
#ifndef TINYGLTF_NO_STB_IMAGE_WRITE
#define TINYGLTF_NO_STB_IMAGE_WRITE
#endif
#ifndef TINYGLTF_NO_EXTERNAL_IMAGE
#define TINYGLTF_NO_EXTERNAL_IMAGE
#endif

#include <tiny_gltf.h>
