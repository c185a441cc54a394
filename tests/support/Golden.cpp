#include "support/Golden.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/Programs.h"

namespace fs = std::filesystem;

void expectGolden(const std::string& name, std::string text, const GoldenPlaces& places)
{
    for (const auto& [path, standIn] : places) {
        for (std::size_t at = text.find(path); at != std::string::npos; at = text.find(path, at + standIn.size())) {
            text.replace(at, path.size(), standIn);
        }
    }
    const fs::path file = fs::path(ORVIK_SOURCE_DIR) / "tests" / "golden" / name;
    if (std::getenv("ORVIK_UPDATE_GOLDEN")) {
        fs::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << text;
        return;
    }
    ASSERT_TRUE(fs::is_regular_file(file)) << file << " is missing (ORVIK_UPDATE_GOLDEN=1 writes it); the output:\n"
                                           << text;
    const std::string expected = readFile(file);
    if (text == expected) return;
    const auto firstDifference = std::mismatch(text.begin(), text.end(), expected.begin(), expected.end()).first;
    const std::string where = "against " + file.string() + ", first difference at byte " +
                              std::to_string(firstDifference - text.begin()) + " (" + std::to_string(text.size()) +
                              " bytes, " + std::to_string(expected.size()) + " expected)";
    if (text.find('\0') != std::string::npos || expected.find('\0') != std::string::npos) {
        ADD_FAILURE() << where;
        return;
    }
    const nlohmann::json got = nlohmann::json::parse(text, nullptr, false);
    const nlohmann::json want = nlohmann::json::parse(expected, nullptr, false);
    if (!got.is_discarded() && !want.is_discarded()) {
        ADD_FAILURE() << where << "; the patch from the expected document:\n"
                      << nlohmann::json::diff(want, got).dump(1).substr(0, 4000);
        return;
    }
    EXPECT_EQ(text, expected) << where;
}
