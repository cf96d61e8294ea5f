#include "emulated/demo_world.h"

#include <cstdio>
#include <string>

#include "platform/driver.h"
#include "record/replayer.h"

namespace tarvex::emulated {
namespace {

// The product id of the other device: another gadget of the board's vendor on the same driver.
constexpr std::uint16_t kOtherProductId = 0x000C;
// A fault "on every request" covers this many.
constexpr std::size_t kEveryRequest = 10000;

void injectFault(Board& board, const std::string& fault) {
    if (fault == "no-reply") {
        board.injectFaults(kEveryRequest, {FaultKind::kNoReply});
    } else if (fault == "short-reply") {
        board.injectFaults(kEveryRequest, {FaultKind::kShortReply, 1});
    } else if (fault == "unplug") {
        board.injectFault({FaultKind::kUnplug});
    }
}

// Another program holds the board's host-to-device pipe, and the driver lets one program at a
// time open a pipe.
void holdPipe(World& world, const Board& board) {
    world.setExclusiveOpen(true);
    const std::string pipe = world.interfacePath(world.idOf(board)) + std::string(driver::kDataPipeName);
    world.createFile(pipe.c_str(), platform::kGenericWrite, 0, platform::kOpenExisting,
                     platform::kFileFlagOverlapped | platform::kFileAttributeNormal);
}

void trace(Board& board, std::size_t position) {
    board.onReceive = [position](const Transfer& transfer) {
        std::string text;
        for (std::uint8_t byte : transfer.bytes) {
            char hex[4];
            std::snprintf(hex, sizeof hex, text.empty() ? "%02x" : " %02x", byte);
            text += hex;
        }
        std::fprintf(stderr, "demo board %zu received %zu bytes: %s\n", position,
                     transfer.bytes.size(), text.c_str());
    };
}

}  // namespace

DemoWorld::DemoWorld(const DemoConfig& config) : world_(config.clock) {
    if (!config.replay.empty()) {
        replayer_ = std::make_unique<record::Replayer>(config.replay);
        return;  // the recording answers for whatever was plugged when it was made
    }
    for (const DemoDevice device : config.deviceList()) {
        if (device == DemoDevice::kOther) {
            world_.plugDevice(driver::kBoardVendorId, kOtherProductId);
            continue;
        }
        Board& board = world_.plugBoard(makeDemoFirmware(config.firmware));
        boards_.push_back(&board);
        injectFault(board, config.fault);
        if (config.fault == "busy") holdPipe(world_, board);
        if (config.trace) trace(board, world_.interfaceCount() - 1);
    }
}

DemoWorld::~DemoWorld() = default;

platform::Backend& DemoWorld::backend() {
    if (replayer_) return *replayer_;
    return world_;
}

}  // namespace tarvex::emulated
