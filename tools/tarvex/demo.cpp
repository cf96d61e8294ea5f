#include "demo.h"

#include <sstream>

#include <fmt/format.h>

#include "emulated/demo/demo_firmware.h"
#include "emulated/world.h"
#include "errors.h"
#include "values.h"
#include "platform/driver.h"
#include "platform/platform.h"

namespace tarvex::cli {

namespace emulated = tarvex::emulated;

double demoDataRate() { return emulated::demo::SignalOptions{}.dataRate; }
double demoSampleRate() { return emulated::demo::SignalOptions{}.sampleRate; }

struct Demo::State {
    explicit State(emulated::ClockMode mode) : world(mode) {}
    emulated::World world;
    std::unique_ptr<platform::ScopedBackend> use;
};

namespace {

// The fault every request to a demo board shows (--demo-fault, for the tool's tests).
void injectFault(emulated::Board& board, const std::string& fault) {
    using emulated::FaultKind;
    constexpr std::size_t kEveryRequest = 10000;
    if (fault.empty() || fault == "none") return;
    if (fault == "no-reply") {
        board.injectFaults(kEveryRequest, {FaultKind::kNoReply});
    } else if (fault == "short-reply") {
        board.injectFaults(kEveryRequest, {FaultKind::kShortReply, 1});
    } else if (fault == "unplug") {
        board.injectFault({FaultKind::kUnplug});
    } else if (fault != "busy") {
        throw UsageError(fmt::format(
            "unknown demo fault '{}' (none, no-reply, short-reply, unplug, busy)", fault));
    }
}

}  // namespace

Demo::Demo(const GlobalOptions& options)
    : state_(std::make_unique<State>(options.demoVirtualClock ? emulated::ClockMode::kVirtual
                                                              : emulated::ClockMode::kRealTime)) {
    std::istringstream devices(options.demoDevices);
    std::string device;
    while (std::getline(devices, device, ',')) {
        if (device == "board") {
            emulated::demo::DemoOptions demo;
            demo.signal.dataRate = options.demoDataRate;
            demo.signal.sampleRate = options.demoSampleRate;
            auto& board = state_->world.plugBoard(emulated::makeDemoFirmware(demo));
            injectFault(board, options.demoFault);
            if (options.demoFault == "busy") {
                // Another program holds the board's host-to-device pipe, and the driver lets
                // one program at a time open a pipe.
                state_->world.setExclusiveOpen(true);
                const auto path = state_->world.interfacePath(state_->world.idOf(board)) +
                                  TARVEX_BOARD_PIPE;
                state_->world.createFile(path.c_str(), platform::kGenericWrite, 0,
                                         platform::kOpenExisting,
                                         platform::kFileFlagOverlapped |
                                             platform::kFileAttributeNormal);
            }
            if (options.demoTrace) {
                const std::size_t position = state_->world.interfaceCount() - 1;
                board.onReceive = [position](const emulated::Transfer& transfer) {
                    fmt::print(stderr, "demo board {} received {} bytes: {}\n", position,
                               transfer.bytes.size(), hexBytes(transfer.bytes));
                };
            }
        } else if (device == "other") {
            // Another device of the same driver: it takes a member index but is no board.
            state_->world.plugDevice(driver::kBoardVendorId, 0x000C);
        } else if (!device.empty() && device != "none") {
            throw UsageError(fmt::format("unknown demo device '{}' (board, other, none)", device));
        }
    }
    state_->use = std::make_unique<platform::ScopedBackend>(state_->world);
}

Demo::~Demo() = default;

}  // namespace tarvex::cli
