// Fixed expected outputs: tests/golden/NAME holds what a command or the dump
// writes for a fixed input.
#pragma once

#include <string>
#include <utility>
#include <vector>

// A varying place in the output (a folder path) and the stand-in the golden
// file holds instead, e.g. {ORVIK_SOURCE_DIR, "{source}"}.
using GoldenPlaces = std::vector<std::pair<std::string, std::string>>;

inline const std::pair<std::string, std::string> kSourcePlace{ORVIK_SOURCE_DIR, "{source}"};

// The output against tests/golden/NAME, each place written as its stand-in
// first. ORVIK_UPDATE_GOLDEN=1 writes the file from the output instead (read
// the difference before committing it). A missing file fails with the output
// shown; JSON that differs is shown as the patch from the expected document,
// binary output by the first byte that differs.
void expectGolden(const std::string& name, std::string text, const GoldenPlaces& places = {});
