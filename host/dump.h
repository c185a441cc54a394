// The JSON scene dump, written as a stream.
#pragma once

#include <ostream>
#include <string>

class Scene;

// Writes the whole scene as one JSON object (the orvik-scene format).
void writeSceneJson(const Scene& scene, std::ostream& out);

// A path the user gave (not a text from a model file) as UTF-8: sequences
// that are valid UTF-8 stay as they are; every other byte is taken as the
// ISO-8859-1 character of the same code, as texts from the file are. The
// dump's `import.file` is written this way.
std::string pathAsUtf8(const std::string& path);

// ASCII letters in lower case, every other byte as it is: how the host
// compares file names and extensions (and the command-line host, through
// support/, every name).
std::string asciiLowered(std::string text);
// The same for one byte.
inline char asciiLowered(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
