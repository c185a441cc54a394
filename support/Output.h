// The one way the command-line host writes files. A set of outputs is first
// checked (before any work that produces them), then committed all or
// nothing: each output is written to a temporary file beside its target,
// created exclusively under a unique name without following links, flushed to
// disk and closed with every error checked; only when every temporary is
// complete are they renamed over their targets, in the order given. A failure
// at any point replaces no target and removes the temporaries. An existing
// target keeps its permission bits (and its owner where the process may set
// it). A symbolic link at a target's name is
// replaced by the new file; what it pointed to is not written.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace orvik {

// One file to write: its target and its content, either bytes in memory or a
// function that streams the content (e.g. a large JSON document). A stream
// function reports its own failure by setting the stream's badbit or by
// throwing; either fails the whole commit.
struct OutputFile {
    std::string path;
    std::string bytes;
    std::function<void(std::ostream&)> write;
};

// A file the outputs must not replace, and how to name it in a message
// ("the model file").
struct ProtectedFile {
    std::string path;
    std::string what;
};

// Why these targets cannot be written ("" when they can), as one message
// "PATH: reason". Checked for each target: its folder exists and can be
// written; its name is a file name no longer than the folder allows; an
// existing file under the name is a regular file or a symbolic link (never a
// folder, device or pipe); no two targets are the same file, and no target is
// a protected file. Files are compared as the real path of their folder plus
// their name, and existing ones also by identity, so that other spellings
// (./x, an absolute path, a link to the folder, a hard link) do not hide a
// clash. Reads nothing, writes nothing.
std::string checkOutputTargets(const std::vector<std::string>& targets, const std::vector<ProtectedFile>& inputs);

// The spelling the check compares: the real path of the folder (links and
// ".." resolved) plus the name; "" when the folder cannot be resolved or the
// path names no file.
std::string outputKey(const std::string& path);

// Writes and commits the outputs as described above. Returns false with
// error ("PATH: cannot be written: no space left on device") when any output
// fails; then no target has changed and no temporary is left.
bool commitOutputs(const std::vector<OutputFile>& outputs, std::string& error);

}  // namespace orvik
