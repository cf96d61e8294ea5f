// Recording at the seam on the libusb backend, as a person with a board records a session: the
// replay of it answers the library with the same results, bytes and last-error codes, whatever
// became of the board.
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <sstream>

#include "emulated/world.h"
#include "libusb/libusb_fixture.h"
#include "record/recorder.h"
#include "record/replayer.h"

namespace tarvex::libusbtest {
namespace {

using LibusbRecord = LibusbTest;

std::string hexOf(const std::uint8_t* bytes, std::size_t size) {
    std::ostringstream text;
    for (std::size_t i = 0; i < size; ++i) text << std::hex << int{bytes[i]} << '.';
    return text.str();
}

// A session of the library's commands, written down as it went: results, values, last-error
// codes and the diagnostics printed.  `board` is there while recording: it fails one read.
std::string session(EmulatedUsbDevice* board) {
    std::ostringstream log;
    StdoutCapture printed;
    log << "count " << u_GetDeviceCount() << "\n";
    log << "open " << OpenUSBPort(0) << "\n";
    std::uint8_t pong[20] = {};
    log << "ping " << u_Ping(0, pong) << " " << hexOf(pong, sizeof pong) << "\n";
    log << "set " << u_SetPort(0, 9, 0xBEEF) << "\n";
    std::uint16_t value = 0;
    log << "get " << u_GetPort(0, 9, &value) << " " << value << "\n";
    std::uint16_t samples[2 * SAMPLES_PER_PACKET] = {};
    ScopeStats stats{};
    log << "capture " << u_GetScopeSamples(0, 2, samples, &stats) << " " << stats.okCount << " "
        << hexOf(reinterpret_cast<std::uint8_t*>(samples), sizeof samples) << "\n";
    if (board) board->failNextRead(-EPROTO);
    log << "failed get " << u_GetPort(0, 3, &value) << " " << platform::backend().getLastError()
        << "\n";
    log << "get again " << u_GetPort(0, 9, &value) << " " << value << "\n";
    std::uint8_t descriptor[64] = {};
    std::uint32_t length = 0;
    TARVEX_HANDLE in = MPUSBOpen(0, TARVEX_BOARD_VID_PID, TARVEX_BOARD_PIPE, PIPE_READ, 0);
    log << "descriptor " << MPUSBGetDeviceDescriptor(in, descriptor, sizeof descriptor, &length)
        << " " << hexOf(descriptor, length) << "\n";
    MPUSBClose(in);
    log << "close " << CloseUSBPort(0) << "\n";
    log << "printed " << printed.take() << "\n";
    return log.str();
}

TEST_F(LibusbRecord, ASessionRecordedThroughLibusbReplaysToTheSameResults) {
    DeviceSpec spec;
    spec.firmware = emulated::makeDemoFirmware();
    spec.padReplies = true;
    EmulatedUsbDevice& board = testbed().plug(std::move(spec));
    const std::filesystem::path path = std::filesystem::temp_directory_path() /
                                       ("tarvex-libusb-" + std::to_string(getpid()) + ".jsonl");

    // The library's command buffer keeps the bytes of the last command: a session first, so that
    // the recorded one and its replay start from the same bytes.
    session(&board);
    std::string recorded;
    {
        record::Recorder recorder(platform::nativeBackend(), path.string(), "libusb test");
        ASSERT_TRUE(recorder.ok()) << recorder.problem();
        platform::ScopedBackend use(recorder);
        recorded = session(&board);
    }
    EXPECT_NE(recorded.find("failed get 0 31\n"), std::string::npos) << recorded;
    EXPECT_NE(recorded.find("printed Error: 31\n"), std::string::npos) << recorded;

    testbed().unplug(board);
    record::Replayer replayer(path.string());
    ASSERT_EQ(replayer.loadProblem(), "");
    {
        platform::ScopedBackend use(replayer);
        EXPECT_EQ(session(nullptr), recorded);
    }
    EXPECT_EQ(replayer.departure(), "");
    EXPECT_EQ(replayer.callsLeft(), 0u);
    std::filesystem::remove(path);
}

}  // namespace
}  // namespace tarvex::libusbtest
