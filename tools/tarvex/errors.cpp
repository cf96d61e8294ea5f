#include "errors.h"

#include <fmt/format.h>

#include "platform/platform.h"
#include "tarvex.h"

namespace tarvex::cli {

namespace platform = tarvex::platform;

std::string systemErrorText(std::uint32_t code) {
    switch (code) {
    case platform::kErrorSuccess: return "no error was reported";
    case platform::kErrorFileNotFound: return "the device is not there (error 2)";
    case platform::kErrorAccessDenied:
#ifdef _WIN32
        return "access is denied (error 5)";
#else
        return "access is denied (error 5); to reach boards without root, install the udev rule "
               "70-tarvex.rules (see docs/real-boards.md) and plug the board in again";
#endif
    case platform::kErrorInvalidHandle: return "its pipes are no longer open (error 6)";
    case platform::kErrorNotEnoughMemory: return "the system is out of memory (error 8)";
    case platform::kErrorGenFailure: return "the device is not working properly (error 31)";
    case platform::kErrorSharingViolation:
        return "another program has the pipe open (error 32)";
    case platform::kErrorHandleEof: return "the driver reported the end of the data (error 38)";
    case platform::kErrorNotSupported: return "the driver does not support the request (error 50)";
    case platform::kErrorInvalidParameter: return "the driver refused the request (error 87)";
    case platform::kErrorSemTimeout:
        return "the board did not answer a control request in time (error 121)";
    case platform::kErrorBusy:
        return "the system refused the request while a kernel driver or another program held "
               "the board (error 170)";
    case platform::kErrorMoreData:
        return "the board sent more than was asked for (error 234); please report it with a "
               "recording (see docs/real-boards.md)";
    case platform::kErrorOperationAborted: return "the request was cancelled (error 995)";
    case platform::kErrorIoPending: return "the request did not complete in time (error 997)";
    case platform::kErrorNoAccess: return "a buffer was not accessible (error 998)";
    case platform::kErrorDeviceNotConnected: return "the device is not connected (error 1167)";
    default: return fmt::format("the system reported error {}", code);
    }
}

namespace {

std::string what(const Exchange& exchange) { return std::string(exchange.what); }

}  // namespace

std::string exchangeFailure(std::uint16_t index, int result, std::uint32_t lastError,
                            const Exchange& exchange) {
    if (result == XFER_SHORT) {
        return fmt::format(
            "board {} sent a short reply to the {} (fewer than the {} bytes expected), so the "
            "values read are not the board's; try again, and reset the board (tarvex reset) if "
            "it keeps happening",
            index, what(exchange), exchange.replyBytes);
    }
    switch (lastError) {
    case platform::kErrorIoPending:
    case platform::kErrorOperationAborted:
        if (exchange.replyBytes == 0)
            return fmt::format(
                "board {} did not take the {} within {} ms; check that it is powered and its "
                "firmware runs (tarvex ping), or unplug it and plug it back",
                index, what(exchange), exchange.timeoutMs);
        return fmt::format(
            "board {} did not answer the {} within {} ms; check that it is powered and its "
            "firmware runs, or unplug it and plug it back",
            index, what(exchange), exchange.timeoutMs);
    case platform::kErrorInvalidHandle:
    case platform::kErrorDeviceNotConnected:
    case platform::kErrorFileNotFound:
        return fmt::format(
            "lost board {} during the {}: {}; plug it back and run tarvex list to find it",
            index, what(exchange), systemErrorText(lastError));
    default:
        return fmt::format("the {} on board {} failed: {}", what(exchange), index,
                           systemErrorText(lastError));
    }
}

void clearLastError() { platform::backend().setLastError(platform::kErrorSuccess); }

std::uint32_t lastError() { return platform::backend().getLastError(); }

void requireSent(std::uint16_t index, int result, const Exchange& exchange) {
    if (result == 1) return;
    throw ToolError(exchangeFailure(index, XFER_FAIL, lastError(), exchange));
}

void requireReply(std::uint16_t index, int result, const Exchange& exchange) {
    if (result == XFER_OK) return;
    throw ToolError(exchangeFailure(index, result, lastError(), exchange));
}

}  // namespace tarvex::cli
