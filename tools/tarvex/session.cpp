#include "session.h"

#include <fmt/format.h>

#include "errors.h"
#include "platform/platform.h"
#include "tarvex.h"
#include "usb/usb.h"

namespace tarvex::cli {

namespace {
bool realBoards = true;
}

void setReachesRealBoards(bool real) { realBoards = real; }

std::string noUsbAccessSentence() {
    if (!realBoards) return {};
    const platform::UsbAccess access = platform::nativeUsbAccess();
    switch (access.state) {
    case platform::UsbAccess::State::kAvailable:
        return {};
    case platform::UsbAccess::State::kNotBuiltIn:
        return fmt::format(
            "no USB access: {}, so it reaches no board; build it with libusb-1.0 installed "
            "(Debian: libusb-1.0-0-dev), or try the tool on the emulated demo board with --demo",
            access.reason);
    case platform::UsbAccess::State::kUnavailable:
        break;
    }
    return fmt::format(
        "no USB access: {}; run the tool where the board's USB bus is visible (a container needs "
        "the host's /dev/bus/usb, as docker run --device /dev/bus/usb gives it), or try the tool "
        "on the emulated demo board with --demo",
        access.reason);
}

std::vector<InterfaceInfo> listInterfaces() {
    std::vector<InterfaceInfo> found;
    for (std::uint32_t index = 0; index < usb::DEVICE_SCAN_COUNT; ++index) {
        std::uint32_t length = 0;
        const auto present = usb::GetInterfacePath(index, nullptr, nullptr, 0, &length);
        // Member indexes are positions in the list of present interfaces: the first gap is its
        // end.
        if (present == usb::PATH_NO_INTERFACE) break;
        if (present != usb::PATH_OK) continue;
        std::string path(length + 1, '\0');
        if (usb::GetInterfacePath(index, nullptr, path.data(), length + 1, &length) !=
            usb::PATH_OK)
            continue;  // unplugged between the two looks
        path.resize(length);
        InterfaceInfo info;
        info.index = index;
        // The vendor/product test alters the path while it runs; give it a copy.
        std::string scratch = path;
        info.board = usb::MatchVidPid(scratch.data(), TARVEX_BOARD_VID_PID) == 1;
        info.path = std::move(path);
        found.push_back(std::move(info));
    }
    return found;
}

namespace {

// The port table keeps no record of which of its two opens failed, nor why, and the second open
// overwrites the first one's last-error code: ask each pipe again on its own.
std::uint32_t whyPipesDoNotOpen(std::uint16_t index) {
    for (const std::uint32_t direction : {PIPE_WRITE, PIPE_READ}) {
        clearLastError();
        const TARVEX_HANDLE pipe =
            MPUSBOpen(index, TARVEX_BOARD_VID_PID, TARVEX_BOARD_PIPE, direction, 0);
        if (pipe == TARVEX_INVALID_HANDLE) return lastError();
        MPUSBClose(pipe);
    }
    return 0;
}

std::string indexList(const std::vector<std::uint32_t>& indexes) {
    if (indexes.size() == 1) return fmt::format("at index {}", indexes[0]);
    std::string text = "at indexes ";
    for (std::size_t i = 0; i < indexes.size(); ++i) {
        if (i > 0) text += i + 1 == indexes.size() ? " and " : ", ";
        text += std::to_string(indexes[i]);
    }
    return text;
}

}  // namespace

std::string missingBoardSentence(std::uint32_t index, const std::vector<InterfaceInfo>& found) {
    std::vector<std::uint32_t> boards;
    const InterfaceInfo* there = nullptr;
    for (const auto& info : found) {
        if (info.board) boards.push_back(info.index);
        if (info.index == index) there = &info;
    }
    std::string what = there != nullptr ? "the device at that index is not a board; " : "";
    if (found.empty())
        if (std::string noAccess = noUsbAccessSentence(); !noAccess.empty()) return noAccess;
    if (boards.empty())
        return fmt::format(
            "no board at index {}: {}no board found; check that it is plugged in and its driver "
            "installed, or try the tool on the emulated demo board with --demo",
            index, what);
    return fmt::format("no board at index {}: {}{} board{} found, {}", index, what, boards.size(),
                       boards.size() == 1 ? "" : "s", indexList(boards));
}

BoardSession::BoardSession(std::uint32_t index) : index_(static_cast<std::uint16_t>(index)) {
    if (index >= port::kPortCount)
        throw UsageError(fmt::format("board index {} is out of range: boards are reached at "
                                     "indexes 0 to {}",
                                     index, port::kPortCount - 1));
    const auto found = listInterfaces();
    bool present = false;
    for (const auto& info : found) present = present || (info.index == index && info.board);
    if (!present) throw ToolError(missingBoardSentence(index, found));

    if (OpenUSBPort(index_) != 1) {
        // A half-open row keeps its open pipe until it is closed.
        CloseUSBPort(index_);
        throw ToolError(fmt::format("could not open the pipes of board {}: {}", index_,
                                    systemErrorText(whyPipesDoNotOpen(index_))));
    }
}

BoardSession::~BoardSession() { CloseUSBPort(index_); }

}  // namespace tarvex::cli
