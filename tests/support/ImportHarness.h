// Test harness: runs the linked-in importer on bytes or files against a
// fresh stand-in host scene, reads the scene dump back as JSON, and finds
// the real sample models.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "host/loader.h"
#include "host/scene.h"

// Writes bytes as fileName into a fresh temporary folder (the previous one is
// removed), starts an empty scene with the options and imports the file
// through the importer's descriptor. Gives the scene after the import.
Scene& importBytes(const std::vector<std::uint8_t>& bytes, const HostOptions& options = {},
                   const std::string& fileName = "model.dff");
// Starts an empty scene with the options and imports the file at path.
Scene& importFile(const std::string& path, const HostOptions& options = {});
// How the last importBytes/importFile went (whether an importer took the file).
const ImportOutcome& lastImportOutcome();
// The folder the last importBytes wrote its file into, so that tests can put
// texture files beside the model.
std::string tempFolder();

// The scene dump as text and parsed. dumpOrderedJson keeps the fields in the
// order written (user properties, globals).
std::string dumpText(const Scene& scene);
nlohmann::json dumpJson(const Scene& scene);
nlohmann::ordered_json dumpOrderedJson(const Scene& scene);

// The real sample models: ORVIK_SAMPLES from the environment when set, else
// the folder configured at build time.
std::string samplesFolder();
bool samplesAvailable();
std::string samplePath(const std::string& name);
// Full paths of the sample folder's .dff files, sorted by name.
std::vector<std::string> sampleDffFiles();

// At the top of a test that needs the samples: fails when they are missing
// and CI is set, else skips.
#define ORVIK_REQUIRE_SAMPLES()                                                     \
    do {                                                                            \
        if (!samplesAvailable()) {                                                  \
            if (std::getenv("CI")) {                                                \
                FAIL() << "sample models missing (CI is set): " << samplesFolder(); \
            } else {                                                                \
                GTEST_SKIP() << "sample models missing: " << samplesFolder();       \
            }                                                                       \
        }                                                                           \
    } while (0)
