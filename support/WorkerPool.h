// A pool of worker processes for the batch commands. The stand-in host keeps
// one scene per process, so imports run side by side in processes: each
// worker is forked once, takes job numbers from a pipe, runs the job and
// answers with one line of text. A worker that dies mid-job (a crash of one
// import) is reported as that job's failure and replaced; the other workers
// carry on.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace orvik {

struct WorkerPoolHandlers {
    // Runs in a worker: does job `index` and gives its answer (one line; a
    // newline inside is replaced by a space).
    std::function<std::string(std::size_t index)> work;
    // Runs in the parent for each job, in the order they end: the worker's
    // answer, or, when the worker died, answered = false and `answer` saying
    // how ("killed by signal 11 (segmentation fault)").
    std::function<void(std::size_t index, bool answered, const std::string& answer)> done;
};

// Runs jobs 0..jobCount-1 on `workers` processes (at least one). Gives false
// with a reason when no worker could be started at all.
bool runWorkerPool(std::size_t jobCount, unsigned workers, const WorkerPoolHandlers& handlers, std::string& why);

}  // namespace orvik
