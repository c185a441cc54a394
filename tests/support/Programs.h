// Tests that run programs or write files: a scratch folder per test (ctest
// runs tests in parallel) and one way to run a program and keep its output.
#pragma once

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

// The whole file; "" when it cannot be read.
std::string readFile(const std::filesystem::path& path);

// How a program run ended and what it printed.
struct ProgramRun {
    bool exited = false;
    int status = -1;         // exit status when exited
    int signal = 0;          // the signal that ended it, otherwise
    long peakKilobytes = 0;  // runMeasured: its largest resident set, its own processes' included
    std::string out;
    std::string err;
};

std::ostream& operator<<(std::ostream& os, const ProgramRun& r);

// Runs argv (argv[0] the program's path) with standard input from /dev/null,
// in the folder cwd when given; standard output and error go to files in
// scratch, or standard output to a pipe nobody reads when closedStdout.
ProgramRun runProgram(const std::vector<std::string>& argv, const std::filesystem::path& scratch,
                      const std::filesystem::path& cwd = {}, bool closedStdout = false);

// runProgram through tests/peak_of, which gives the program's peak memory.
ProgramRun runMeasured(const std::vector<std::string>& argv, const std::filesystem::path& scratch,
                       const std::filesystem::path& cwd = {});

// A test fixture with a folder of its own, `dir`, removed afterwards even
// when a test took its permissions away.
class ScratchFolder : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes bytes to dir/name, making the folders on the way.
    std::filesystem::path put(const std::string& name, const std::string& bytes);

    std::filesystem::path dir;
};
