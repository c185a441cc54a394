// The JSON scene dump, written as a stream.
#pragma once

#include <ostream>

class Scene;

// Writes the whole scene as one JSON object (the orvik-scene format).
void writeSceneJson(const Scene& scene, std::ostream& out);
