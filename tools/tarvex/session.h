// Finding the board a command is for, and holding its pipes open for the command.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "port/port_table.h"

namespace tarvex::cli {

// One device interface of the driver's class, at its member index.
struct InterfaceInfo {
    std::uint32_t index = 0;
    bool board = false;  // the board's vendor and product (vid_04d8&pid_0030)
    std::string path;    // "\\?\usb#vid_04d8&pid_0030#..."
};

// Every interface of the driver's class present now, in member-index order.
std::vector<InterfaceInfo> listInterfaces();

// Whether the commands reach the system's boards (the default) or the demo's.
void setReachesRealBoards(bool real);

// When a listing found nothing: the sentence that says the system gives the tool no USB access
// at all, and what to do about it; empty when it does, or on the demo board.
std::string noUsbAccessSentence();

// Why there is no usable board at `index`, as a sentence ("no board at index 3: 1 board found,
// at index 0").
std::string missingBoardSentence(std::uint32_t index, const std::vector<InterfaceInfo>& found);

// The board a command talks to: its pipes are opened on construction and closed on destruction.
class BoardSession {
public:
    // Throws a ToolError that says why when there is no board at `index` or its pipes do not
    // open.
    explicit BoardSession(std::uint32_t index);
    ~BoardSession();
    BoardSession(const BoardSession&) = delete;
    BoardSession& operator=(const BoardSession&) = delete;

    std::uint16_t index() const { return index_; }

private:
    std::uint16_t index_;
};

}  // namespace tarvex::cli
