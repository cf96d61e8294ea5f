// An emulated board as the driver shows it: what it records, the faults it can be told to
// show, its descriptors and configuration, and interrupt reads.
#include <vector>

#include "emulated_world_fixture.h"

namespace tarvex::emulated::testing {
namespace {

using Boards = BoardTest;

TEST_F(Boards, EveryTransferIsRecordedWithItsTimeAndShownToTheHook) {
    std::vector<Bytes> hooked;
    board->onReceive = [&](const Transfer& t) { hooked.push_back(t.bytes); };
    Bytes p = setPacket(0xF2, 2);
    send(p);
    world.sleep(5);
    Bytes block{1, 2, 3, 4};
    send(block);
    ASSERT_EQ(board->received().size(), 2u);
    EXPECT_EQ(board->received()[1].bytes, block);
    EXPECT_EQ(board->received()[1].at, 5 * kMs);
    EXPECT_EQ(board->lastPacket(), p);  // the last 64-byte packet, not the data block
    EXPECT_EQ(hooked, (std::vector<Bytes>{p, block}));
    board->clearReceived();
    EXPECT_TRUE(board->received().empty());
    EXPECT_TRUE(board->lastPacket().empty());
}

TEST_F(Boards, TheRecordKeepsTheNewestTransfersUpToItsCapacityAndCountsThemAll) {
    EXPECT_EQ(board->received().capacity(), kDefaultRecordCapacity);
    board->setRecordCapacity(2);
    for (std::uint8_t n = 1; n <= 5; ++n) send(Bytes(64, n));
    ASSERT_EQ(board->received().size(), 2u);
    EXPECT_EQ(board->received()[0].bytes, Bytes(64, 4));
    EXPECT_EQ(board->lastPacket(), Bytes(64, 5));
    EXPECT_EQ(board->received().total(), 5u);
}

// What a DIR_GET exchange looks like under one fault: the write, and a read of 3 bytes with
// a 250 ms time-out.
struct Exchange {
    bool written;
    std::uint32_t writeError;
    std::uint32_t wait;       // wait result of the read (or of the write when it is pending)
    std::uint32_t readCount;  // bytes the read completed with
    std::uint32_t readError;  // error of a read refused at once
    Micros at;                // time when the read ended (or timed out)
};

class FaultTest : public BoardTest {
protected:
    Exchange exchange(const Bytes& p) {
        Exchange x{};
        Handle event = world.createEvent(false, false);
        Overlapped wov = record(event);
        std::uint32_t count = 0;
        x.written = world.writeFile(out, p.data(), 64, &count, &wov);
        if (!x.written) {
            x.writeError = world.getLastError();
            if (x.writeError == kErrorIoPending) {
                x.wait = world.waitForSingleObject(event, 250);
                world.cancelIo(out);
            }
            world.closeHandle(event);
            x.at = world.now();
            return x;
        }
        Overlapped rov = record(event);
        std::uint8_t buffer[3];
        if (world.readFile(in, buffer, 3, &count, &rov)) {
            x.readCount = count;
        } else if (world.getLastError() != kErrorIoPending) {
            x.readError = world.getLastError();
        } else {
            x.wait = world.waitForSingleObject(event, 250);
            if (x.wait == kWaitObject0)
                world.getOverlappedResult(in, &rov, &x.readCount, false);
            else
                world.cancelIo(in);
        }
        x.at = world.now();
        world.closeHandle(event);
        return x;
    }
};

TEST_F(FaultTest, EachFaultShowsOnTheTransferItIsAppliedTo) {
    struct Case {
        const char* name;
        Fault fault;
        Exchange expected;
        std::size_t received;
    };
    const Case cases[] = {
        {"none", {FaultKind::kShortReply, 64}, {true, 0, 0, 3, 0, 0}, 1},
        {"no reply", {FaultKind::kNoReply}, {true, 0, kWaitTimeout, 0, 0, 250 * kMs}, 1},
        {"short reply", {FaultKind::kShortReply, 2}, {true, 0, 0, 2, 0, 0}, 1},
        {"late reply", {FaultKind::kLateReply, 100}, {true, 0, kWaitObject0, 3, 0, 100 * kMs}, 1},
        {"end of data", {FaultKind::kEndOfData}, {true, 0, 0, 0, kErrorHandleEof, 0}, 1},
        {"stalled write", {FaultKind::kStallWrite}, {false, kErrorIoPending, kWaitTimeout, 0, 0, 250 * kMs}, 0},
        {"refused write", {FaultKind::kRefuseWrite, 31}, {false, 31, 0, 0, 0, 0}, 0},
    };
    // One case after the other on the same board: each leaves nothing behind for the next.
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        board->clearReceived();
        board->injectFault(c.fault);
        Micros start = world.now();
        Exchange x = exchange(getPacket());
        EXPECT_EQ(x.written, c.expected.written);
        EXPECT_EQ(x.writeError, c.expected.writeError);
        EXPECT_EQ(x.wait, c.expected.wait);
        EXPECT_EQ(x.readCount, c.expected.readCount);
        EXPECT_EQ(x.readError, c.expected.readError);
        EXPECT_EQ(x.at - start, c.expected.at);
        EXPECT_EQ(board->received().size(), c.received);
        EXPECT_EQ(world.pendingRequestCount(), 0u);
    }
}

TEST_F(FaultTest, AStrayReplyIsTakenByTheNextRead) {
    board->injectFault({FaultKind::kStrayReply, 5});
    send(setPacket(0xF0, 1));  // a DIR_SET packet, which gets no reply of its own
    std::uint8_t buffer[64] = {};
    std::uint32_t count = 0;
    ASSERT_TRUE(world.readFile(in, buffer, 64, &count, nullptr));
    EXPECT_EQ(count, 5u);
    EXPECT_EQ(world.now(), 0u);

    // After a DIR_GET packet the stray reply follows the real one.
    board->injectFault({FaultKind::kStrayReply, 2});
    Bytes p = getPacket();
    send(p);
    ASSERT_TRUE(world.readFile(in, buffer, 64, &count, nullptr));
    EXPECT_EQ(Bytes(buffer, buffer + count), replyTo(p, 3));
    ASSERT_TRUE(world.readFile(in, buffer, 64, &count, nullptr));
    EXPECT_EQ(count, 2u);
}

TEST_F(FaultTest, FaultsApplyInOrderOneTransferEach) {
    board->injectFault({FaultKind::kShortReply, 1});
    board->injectFaults(2, {FaultKind::kNoReply});
    board->injectFault({FaultKind::kShortReply, 2});
    std::vector<std::uint32_t> counts;
    for (int i = 0; i < 5; ++i) counts.push_back(exchange(getPacket()).readCount);
    EXPECT_EQ(counts, (std::vector<std::uint32_t>{1, 0, 0, 2, 3}));

    board->injectFaults(3, {FaultKind::kNoReply});
    board->clearFaults();
    EXPECT_EQ(exchange(getPacket()).readCount, 3u);
}

TEST_F(FaultTest, AnEndOfDataLeavesNoReplyBehindForTheNextRequest) {
    firmware->answer = echoing(4);  // byte 3, the selector, tells the replies apart
    board->injectFault({FaultKind::kEndOfData});
    EXPECT_EQ(exchange(getPacket(0xF0, 1)).readError, kErrorHandleEof);
    Bytes next = getPacket(0xF0, 2);
    send(next);
    std::uint8_t buffer[4];
    std::uint32_t count = 0;
    ASSERT_TRUE(world.readFile(in, buffer, 4, &count, nullptr));
    EXPECT_EQ(Bytes(buffer, buffer + 4), replyTo(next, 4));
}

TEST_F(FaultTest, AnArmedEndOfDataFailsTheNextReadWhateverIsWritten) {
    board->armEndOfData();
    std::uint8_t buffer[3];
    std::uint32_t count = 5;
    Overlapped ov = record(nullptr);
    EXPECT_FALSE(world.readFile(in, buffer, 3, &count, &ov));
    EXPECT_EQ(world.getLastError(), kErrorHandleEof);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(world.pendingRequestCount(), 0u);
    send(getPacket());
    EXPECT_TRUE(world.readFile(in, buffer, 3, &count, &ov));
}

TEST_F(FaultTest, AnUnplugFaultTakesTheBoardAwayBeforeItReceivesAnything) {
    board->injectFault({FaultKind::kUnplug});
    Overlapped rov = record(world.createEvent(false, false));
    std::uint8_t buffer[3];
    ASSERT_FALSE(world.readFile(in, buffer, 3, nullptr, &rov));  // a read already waiting
    Bytes p = getPacket();
    std::uint32_t count = 0;
    Overlapped wov = record(nullptr);
    EXPECT_FALSE(world.writeFile(out, p.data(), 64, &count, &wov));
    EXPECT_EQ(world.getLastError(), kErrorDeviceNotConnected);
    EXPECT_TRUE(board->received().empty());
    EXPECT_EQ(world.interfaceCount(), 0u);
    EXPECT_FALSE(world.getOverlappedResult(in, &rov, &count, false));
    EXPECT_EQ(world.getLastError(), kErrorDeviceNotConnected);
}

TEST_F(Boards, ACancelledStalledWriteEndsAborted) {
    board->injectFault({FaultKind::kStallWrite});
    Bytes p = setPacket();
    Overlapped ov = record(world.createEvent(false, false));
    std::uint32_t count = 0;
    ASSERT_FALSE(world.writeFile(out, p.data(), 64, &count, &ov));
    ASSERT_EQ(world.getLastError(), kErrorIoPending);
    ASSERT_TRUE(world.cancelIo(out));
    EXPECT_FALSE(world.getOverlappedResult(out, &ov, &count, false));
    EXPECT_EQ(world.getLastError(), kErrorOperationAborted);
    EXPECT_TRUE(board->received().empty());
}

// ---- descriptors and configuration ----

class Control : public BoardTest {
protected:
    // A descriptor request as a host makes it: synchronous, into a buffer of `size` bytes.
    bool getDescriptor(std::uint8_t type, std::uint8_t index, std::uint16_t language,
                       std::uint32_t size, Bytes& descriptor) {
        std::uint8_t param[4] = {type, index, static_cast<std::uint8_t>(language & 0xFF),
                                 static_cast<std::uint8_t>(language >> 8)};
        descriptor.assign(size, 0xEE);
        std::uint32_t returned = 99;
        bool ok = world.deviceIoControl(out, 0x00226004, param, 4, descriptor.data(), size,
                                        &returned, nullptr);
        descriptor.resize(ok ? returned : 0);
        return ok;
    }
};

TEST_F(Control, TheBoardDescribesItselfAsAFullSpeedDeviceWithOneDataPipe) {
    Bytes d;
    ASSERT_TRUE(getDescriptor(1, 0, 0, 64, d));
    EXPECT_EQ(d, (Bytes{18, 1, 0x00, 0x02, 0, 0, 0, 64, 0xD8, 0x04, 0x30, 0x00, 0x00, 0x01, 1, 2,
                        3, 1}));
    ASSERT_TRUE(getDescriptor(2, 0, 0, 255, d));
    ASSERT_EQ(d.size(), 32u);
    EXPECT_EQ(Bytes(d.begin(), d.begin() + 4), (Bytes{9, 2, 32, 0}));
    EXPECT_EQ(Bytes(d.begin() + 18, d.end()),
              (Bytes{7, 5, 0x01, 0x03, 64, 0, 1, 7, 5, 0x81, 0x03, 64, 0, 1}));
    ASSERT_TRUE(getDescriptor(3, 0, 0, 255, d));
    EXPECT_EQ(d, (Bytes{4, 3, 0x09, 0x04}));
    ASSERT_TRUE(getDescriptor(3, 1, 0x0409, 255, d));
    ASSERT_GE(d.size(), 6u);
    EXPECT_EQ(d[0], d.size());
    EXPECT_EQ(d[1], 3);
    EXPECT_EQ(d[2], 'T');
    EXPECT_EQ(d[3], 0);
}

TEST_F(Control, ADescriptorIsCutToTheCallersBuffer) {
    Bytes d;
    ASSERT_TRUE(getDescriptor(1, 0, 0, 8, d));
    EXPECT_EQ(d, (Bytes{18, 1, 0x00, 0x02, 0, 0, 0, 64}));
    ASSERT_TRUE(getDescriptor(1, 0, 0, 0, d));
    EXPECT_TRUE(d.empty());
}

TEST_F(Control, UnknownDescriptorsAndCodesFail) {
    Bytes d;
    for (auto [type, index] : {std::pair{1, 1}, std::pair{2, 1}, std::pair{3, 4}, std::pair{6, 0}}) {
        world.setLastError(0);
        EXPECT_FALSE(getDescriptor(static_cast<std::uint8_t>(type),
                                   static_cast<std::uint8_t>(index), 0, 64, d));
        EXPECT_EQ(world.getLastError(), kErrorGenFailure) << type << "/" << index;
    }
    std::uint8_t buffer[4] = {};
    std::uint32_t returned = 0;
    EXPECT_FALSE(world.deviceIoControl(out, 0x00220000, buffer, 4, buffer, 4, &returned, nullptr));
    EXPECT_EQ(world.getLastError(), 1u);  // ERROR_INVALID_FUNCTION
}

TEST_F(Control, TheSerialStringAndAGivenIdentityComeBackAsDescriptors) {
    DeviceIdentity identity;
    identity.serial = "AB12";
    identity.strings = {u"Maker", u"Thing"};
    Board& other = world.plugBoard(std::make_unique<ScriptedFirmware>(), identity);
    Handle h = world.createFile(world.interfacePath(world.idOf(other)).c_str(), 0, 0,
                                kOpenExisting, kFileFlagOverlapped);
    std::uint8_t param[4] = {3, 2, 0x09, 0x04};
    std::uint8_t buffer[64];
    std::uint32_t returned = 0;
    ASSERT_TRUE(world.deviceIoControl(h, 0x00226004, param, 4, buffer, 64, &returned, nullptr));
    EXPECT_EQ(Bytes(buffer, buffer + returned),
              (Bytes{12, 3, 'T', 0, 'h', 0, 'i', 0, 'n', 0, 'g', 0}));
    param[1] = 3;  // no third string given
    EXPECT_FALSE(world.deviceIoControl(h, 0x00226004, param, 4, buffer, 64, &returned, nullptr));

    Bytes d;
    ASSERT_TRUE(getDescriptor(3, 3, 0x0409, 64, d));  // the fixture board's made-up serial
    EXPECT_EQ(d, (Bytes{18, 3, 'T', 0, 'V', 0, 'X', 0, '0', 0, '0', 0, '0', 0, '0', 0, '1', 0}));
}

TEST_F(Control, SetConfigurationTakesTheValueInByteZero) {
    struct Case {
        std::uint8_t value;
        bool accepted;
    };
    for (Case c : {Case{1, true}, Case{0, true}, Case{2, false}, Case{0xFF, false}}) {
        std::uint8_t param[4] = {c.value, 0, 0, 0};
        std::uint8_t result[4] = {};
        std::uint32_t returned = 0;
        world.setLastError(0);
        EXPECT_EQ(world.deviceIoControl(in, 0x0022A00C, param, 4, result, 4, &returned, nullptr),
                  c.accepted)
            << int(c.value);
        if (!c.accepted) {
            EXPECT_EQ(world.getLastError(), kErrorGenFailure);
        }
    }
    const auto& requests = world.controlRequests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[2].code, 0x0022A00Cu);
    EXPECT_EQ(requests[2].input, (Bytes{2, 0, 0, 0}));
    EXPECT_EQ(requests[2].outputSize, 4u);
    EXPECT_EQ(requests[2].interfaceId, id);
}

TEST_F(Control, DescriptorRequestsWorkOnAnOverlappedRecordToo) {
    Handle event = world.createEvent(false, false);
    Overlapped ov = record(event);
    std::uint8_t param[4] = {1, 0, 0, 0};
    std::uint8_t buffer[18];
    ASSERT_TRUE(world.deviceIoControl(in, 0x00226004, param, 4, buffer, 18, nullptr, &ov));
    EXPECT_EQ(ov.internalHigh, 18u);
    EXPECT_TRUE(eventSignalled(event));
    std::uint32_t count = 0;
    EXPECT_TRUE(world.getOverlappedResult(in, &ov, &count, false));
    EXPECT_EQ(count, 18u);
}

// ---- interrupt reads ----

TEST_F(Boards, AnInterruptReadWaitsUntilTheFirmwareHasData) {
    firmware->interrupt = Bytes{9, 8, 7, 6};
    firmware->interruptFrom = 20500;  // 20.5 ms: seen at the next 1 ms poll
    Handle event = world.createEvent(false, false);
    Overlapped ov = record(event);
    std::uint8_t buffer[3] = {};
    std::uint32_t count = 0;
    ASSERT_FALSE(world.deviceIoControl(in, 0x00226018, nullptr, 0, buffer, 3, &count, &ov));
    ASSERT_EQ(world.getLastError(), kErrorIoPending);
    EXPECT_EQ(world.waitForSingleObject(event, 10), kWaitTimeout);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(world.waitForSingleObject(event, kInfinite), kWaitObject0);
    EXPECT_EQ(world.now(), 21 * kMs);
    ASSERT_TRUE(world.getOverlappedResult(in, &ov, &count, false));
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(Bytes(buffer, buffer + 3), (Bytes{9, 8, 7}));

    // With data at hand it completes at once.
    ASSERT_TRUE(world.deviceIoControl(in, 0x00226018, nullptr, 0, buffer, 3, &count, &ov));
    EXPECT_EQ(count, 3u);
}

TEST_F(Boards, AnEndlessInterruptReadOfASilentBoardFailsInsteadOfHanging) {
    std::uint8_t buffer[3];
    std::uint32_t count = 0;
    EXPECT_FALSE(world.deviceIoControl(in, 0x00226018, nullptr, 0, buffer, 3, &count, nullptr));
    EXPECT_EQ(world.getLastError(), 1131u);
    EXPECT_EQ(world.pendingRequestCount(), 0u);
}

}  // namespace
}  // namespace tarvex::emulated::testing
