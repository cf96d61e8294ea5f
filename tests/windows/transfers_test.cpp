// The timed transfers of tarvex.dll against real Win32 objects under Wine: named pipes stand in
// for the board's pipes, so every request, wait, cancel and last-error code is the system's own.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <string>

#include "device_pipe.h"
#include "dll_test.h"

namespace tarvex::wine {
namespace {

constexpr std::uint32_t kNoCount = 0xDEADBEEF;  // a count the library must overwrite

Bytes pattern(std::size_t count, std::uint8_t first = 0x40) {
    Bytes bytes(count);
    for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(first + i);
    return bytes;
}

class TimedTransfer : public DllTest {
protected:
    // Milliseconds since `start`.
    static ULONGLONG since(ULONGLONG start) { return GetTickCount64() - start; }
};

TEST_F(TimedTransfer, AReadOfAReplyAlreadyThereCompletesAtOnce) {
    DevicePipe pipe(PIPE_READ);
    ASSERT_NE(pipe.host(), nullptr);
    pipe.send(pattern(64));

    Bytes buffer(64, 0);
    std::uint32_t count = kNoCount;
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(dll->MPUSBRead(pipe.host(), buffer.data(), 64, &count, 5000), 1u);
    EXPECT_LT(since(start), 1000u);
    EXPECT_EQ(count, 64u);
    EXPECT_EQ(buffer, pattern(64));
}

TEST_F(TimedTransfer, AReadWaitsForAReplyThatComesWithinTheTimeOut) {
    DevicePipe pipe(PIPE_READ);
    pipe.sendLater(200, pattern(20, 0x80));

    Bytes buffer(64, 0);
    std::uint32_t count = kNoCount;
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(dll->MPUSBRead(pipe.host(), buffer.data(), 64, &count, 5000), 1u);
    const ULONGLONG elapsed = since(start);
    EXPECT_GE(elapsed, 150u) << "the read ended before the reply was sent";
    EXPECT_LT(elapsed, 4000u) << "the read waited for its time-out despite the reply";
    EXPECT_EQ(count, 20u);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 20), pattern(20, 0x80));
}

TEST_F(TimedTransfer, AShortReplyIsASuccessWithTheShorterCount) {
    DevicePipe pipe(PIPE_READ);
    pipe.send(pattern(5));

    Bytes buffer(20, 0xEE);
    std::uint32_t count = kNoCount;
    EXPECT_EQ(dll->MPUSBRead(pipe.host(), buffer.data(), 20, &count, 250), 1u);
    EXPECT_EQ(count, 5u);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 5), pattern(5));
    EXPECT_EQ(buffer[5], 0xEE) << "bytes past the reply were written";
}

TEST_F(TimedTransfer, AReadWithoutACountPointerStillReadsTheReply) {
    DevicePipe pipe(PIPE_READ);
    pipe.send(pattern(8));

    Bytes buffer(8, 0);
    EXPECT_EQ(dll->MPUSBRead(pipe.host(), buffer.data(), 8, nullptr, 250), 1u);
    EXPECT_EQ(buffer, pattern(8));
}

// The read that timed out must be cancelled and over before MPUSBRead returns: a request still
// pending would take the next reply into a buffer (and a transfer record) that is no longer its.
TEST_F(TimedTransfer, AReadThatTimesOutIsCancelledAndLeavesThePipeUsable) {
    for (std::uint32_t timeoutMs : {0u, 100u}) {
        SCOPED_TRACE("time-out " + std::to_string(timeoutMs) + " ms");
        DevicePipe pipe(PIPE_READ);
        Bytes buffer(64, 0xAA);
        std::uint32_t count = kNoCount;

        const ULONGLONG start = GetTickCount64();
        EXPECT_EQ(dll->MPUSBRead(pipe.host(), buffer.data(), 64, &count, timeoutMs), 0u);
        const DWORD error = GetLastError();
        EXPECT_GE(since(start) + 20, timeoutMs) << "returned before the time-out ran out";
        EXPECT_EQ(count, 0u);
        EXPECT_EQ(error, static_cast<DWORD>(ERROR_IO_PENDING));

        // The next reply stays in the pipe, untouched by the abandoned request ...
        pipe.send(pattern(64));
        Sleep(50);
        EXPECT_EQ(pipe.waiting(), 64u) << "the timed-out read took the next reply";
        EXPECT_EQ(buffer, Bytes(64, 0xAA)) << "the timed-out read wrote into the buffer";

        // ... and the next read gets it.
        EXPECT_EQ(dll->MPUSBRead(pipe.host(), buffer.data(), 64, &count, 250), 1u);
        EXPECT_EQ(count, 64u);
        EXPECT_EQ(buffer, pattern(64));
    }
}

TEST_F(TimedTransfer, AWriteReachesTheDeviceAsOneTransfer) {
    DevicePipe pipe(PIPE_WRITE);
    const Bytes packet = pattern(64, 0xF0);
    std::uint32_t count = kNoCount;
    EXPECT_EQ(dll->MPUSBWrite(pipe.host(), packet.data(), 64, &count, 250), 1u);
    EXPECT_EQ(count, 64u);
    EXPECT_EQ(pipe.receive(1000), packet);
}

TEST_F(TimedTransfer, AWriteWaitsForTheDeviceToTakeIt) {
    DevicePipe pipe(PIPE_WRITE, 0);  // no buffer: the write ends when the device reads
    std::optional<Bytes> received;
    std::thread device([&] {
        Sleep(200);
        received = pipe.receive(5000);
    });
    const Bytes packet = pattern(64);
    std::uint32_t count = kNoCount;
    EXPECT_EQ(dll->MPUSBWrite(pipe.host(), packet.data(), 64, &count, 5000), 1u);
    device.join();
    EXPECT_EQ(count, 64u);
    EXPECT_EQ(received, packet);
}

TEST_F(TimedTransfer, AWriteThatTimesOutIsCancelledAndDeliversNothing) {
    DevicePipe pipe(PIPE_WRITE, 0);
    const Bytes packet = pattern(64);
    std::uint32_t count = kNoCount;
    EXPECT_EQ(dll->MPUSBWrite(pipe.host(), packet.data(), 64, &count, 100), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(pipe.receive(200), std::nullopt) << "the cancelled write still reached the device";

    // The pipe still carries the next write.
    std::optional<Bytes> received;
    std::thread device([&] { received = pipe.receive(5000); });
    EXPECT_EQ(dll->MPUSBWrite(pipe.host(), packet.data(), 64, &count, 5000), 1u);
    device.join();
    EXPECT_EQ(received, packet);
}

TEST_F(TimedTransfer, ARequestThatFailsAfterWaitingPrintsItsErrorAndLeavesItsCode) {
    DevicePipe pipe(PIPE_READ);
    pipe.vanishLater(150);

    Bytes buffer(64, 0);
    std::uint32_t count = kNoCount;
    ::testing::internal::CaptureStdout();
    const std::uint32_t result = dll->MPUSBRead(pipe.host(), buffer.data(), 64, &count, 5000);
    const DWORD error = GetLastError();
    const std::string printed = ::testing::internal::GetCapturedStdout();

    EXPECT_EQ(result, 0u);
    EXPECT_EQ(count, 0u);
    EXPECT_NE(error, static_cast<DWORD>(ERROR_IO_PENDING));
    EXPECT_NE(error, static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(printed, "Error: " + std::to_string(error));
}

TEST_F(TimedTransfer, ARequestTheDeviceRefusesAtOnceLeavesItsOwnCode) {
    // A named pipe knows no interrupt read: the request is refused before it starts.
    DevicePipe pipe(PIPE_READ);
    Bytes buffer(8, 0);
    std::uint32_t count = kNoCount;
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(dll->MPUSBReadInt(pipe.host(), buffer.data(), 8, &count, 5000), 0u);
    const DWORD error = GetLastError();
    EXPECT_EQ(count, 0u);
    EXPECT_NE(error, static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_NE(error, static_cast<DWORD>(ERROR_IO_PENDING));

    // The pipe goes on working.
    pipe.send(pattern(8));
    EXPECT_EQ(dll->MPUSBRead(pipe.host(), buffer.data(), 8, &count, 250), 1u);
    EXPECT_EQ(buffer, pattern(8));
}

TEST_F(TimedTransfer, AnInterruptReadIntoNoBufferIsRefusedWithoutARequest) {
    // Even on a handle that is not open: no request is made, so the handle is never looked at.
    for (HANDLE handle : {static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE}) {
        std::uint32_t count = kNoCount;
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(dll->MPUSBReadInt(handle, nullptr, 64, &count, 250), 0u);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOACCESS));
        EXPECT_EQ(count, 0u);
    }
}

// A handle that is not open: never opened (null), never issued, closed by its owner, or "no
// handle" (INVALID_HANDLE_VALUE, which the system would take for the process itself).
struct NotOpen {
    const char* what;
    HANDLE (*make)(DevicePipe& pipe);
};

const NotOpen kNotOpen[] = {
    {"null", [](DevicePipe&) { return static_cast<HANDLE>(nullptr); }},
    {"never issued", [](DevicePipe&) { return reinterpret_cast<HANDLE>(0x7FFC); }},
    {"closed", [](DevicePipe& pipe) { pipe.closeHost(); return pipe.host(); }},
    {"INVALID_HANDLE_VALUE", [](DevicePipe&) { return INVALID_HANDLE_VALUE; }},
};

TEST_F(TimedTransfer, EveryRequestOnAHandleThatIsNotOpenFailsAtOnceWithInvalidHandle) {
    for (const NotOpen& kind : kNotOpen) {
        for (const char* request : {"MPUSBRead", "MPUSBWrite", "MPUSBReadInt"}) {
            SCOPED_TRACE(std::string(request) + " on a " + kind.what + " handle");
            DevicePipe pipe(PIPE_READ);
            const HANDLE handle = kind.make(pipe);
            Bytes buffer(64, 0);
            std::uint32_t count = kNoCount;
            const ULONGLONG start = GetTickCount64();
            std::uint32_t result = 9;
            if (std::string(request) == "MPUSBRead")
                result = dll->MPUSBRead(handle, buffer.data(), 64, &count, 5000);
            else if (std::string(request) == "MPUSBWrite")
                result = dll->MPUSBWrite(handle, buffer.data(), 64, &count, 5000);
            else
                result = dll->MPUSBReadInt(handle, buffer.data(), 64, &count, 5000);
            const DWORD error = GetLastError();
            EXPECT_EQ(result, 0u);
            EXPECT_EQ(count, 0u);
            EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_HANDLE));
            EXPECT_LT(since(start), 1000u) << "waited instead of failing at once";
        }
    }
}

TEST_F(TimedTransfer, ClosingReportsWhetherAHandleWasOpen) {
    DevicePipe pipe(PIPE_READ);
    EXPECT_EQ(dll->MPUSBClose(INVALID_HANDLE_VALUE), 1);

    HANDLE open = pipe.takeHost();
    EXPECT_EQ(dll->MPUSBClose(open), 1);
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(dll->MPUSBClose(open), 0) << "closed twice";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(dll->MPUSBClose(nullptr), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

}  // namespace
}  // namespace tarvex::wine
