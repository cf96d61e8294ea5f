// Failures the tool reports to a person: one sentence that says what happened and what to try,
// and the exit status that goes with it.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "commands/packet.h"

namespace tarvex::cli {

// Exit statuses, as scripts see them.
enum ExitStatus : int {
    kExitOk = 0,
    kExitFailure = 1,        // the board or the system did not do what was asked
    kExitUsage = 2,          // the command line was wrong
    kExitMaskFailed = 3,     // eye --mask: samples fell inside the mask
    kExitInterrupted = 130,  // stopped by Ctrl-C (128 + SIGINT, as the shells report it)
};

class ToolError : public std::runtime_error {
public:
    explicit ToolError(const std::string& sentence, int status = kExitFailure)
        : std::runtime_error(sentence), status_(status) {}
    int status() const { return status_; }

private:
    int status_;
};

// A usage mistake found after parsing (a combination of options that cannot work together).
class UsageError : public ToolError {
public:
    explicit UsageError(const std::string& sentence) : ToolError(sentence, kExitUsage) {}
};

// One exchange with a board, as the sentences name it.
struct Exchange {
    std::string_view what;       // "ping", "read of port 3", ...
    std::uint32_t timeoutMs = commands::kTimeoutMs;
    std::uint32_t replyBytes = 0;  // a reply of this many bytes is expected (0: none)
};

// The system's last-error code in words ("the device is not connected").
std::string systemErrorText(std::uint32_t code);

// The sentence for a failed exchange with board `index`, from its result (0 failed, 2 short)
// and the last-error code the failed transfer left.
std::string exchangeFailure(std::uint16_t index, int result, std::uint32_t lastError,
                            const Exchange& exchange);

// Clears the thread's last-error code so that a failure reported afterwards names its own cause.
void clearLastError();
std::uint32_t lastError();

// Throws a ToolError unless a command without reply returned 1.
void requireSent(std::uint16_t index, int result, const Exchange& exchange);
// Throws a ToolError unless a command with a reply returned XFER_OK.
void requireReply(std::uint16_t index, int result, const Exchange& exchange);

}  // namespace tarvex::cli
