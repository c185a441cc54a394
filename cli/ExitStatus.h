// Exit statuses of every orvik command.
#pragma once

namespace orvik {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 2;        // a usage error, or an input or output that cannot be used
constexpr int kExitNothingRead = 3;  // the input held nothing that could be read
constexpr int kExitSomeFailed = 4;   // some items of a batch failed, the others were done

}  // namespace orvik
