// The firmware behind the boards of the library's tests (the core, reliability and libusb
// suites): each test says what it answers.  The demo board's firmware has tests of its own.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "emulated/firmware.h"

namespace tarvex::testing {

using emulated::Bytes;
using emulated::Micros;

constexpr Micros kMs = 1000;  // virtual clock ticks per millisecond

// Bytes first, first+1, ... (wrapping), `count` of them.
Bytes pattern(std::size_t count, std::uint8_t first = 0x40);

// A 64-byte command packet: command, direction, selector; every other byte zero.
Bytes commandPacket(std::uint8_t command, std::uint8_t direction, std::uint8_t selector = 0);

// Answers 64-byte command packets as a board would, from tables the test fills:
//   a DIR_SET to CMD_PORT writes ports[selector] (payload bytes 0 and 1, low byte first);
//   a DIR_GET takes the next reply of script[command]; when that is used up, CMD_PORT answers
//   {0, low, high} of ports[selector] and any other command standing[command], if set.
// Everything else (DIR_SET packets, data blocks) gets no reply.  `answer`, when set, replaces
// the tables: it is handed every transfer, whatever its length, and its replies are sent.
// Replies are ready `delay` after their transfer arrived; an interrupt read gets `interrupt`
// from `interruptFrom` on.
class ScriptedFirmware final : public emulated::Firmware {
public:
    using Answer = std::function<std::vector<Bytes>(const Bytes& received)>;

    ScriptedFirmware() = default;
    explicit ScriptedFirmware(Answer answerWith) : answer(std::move(answerWith)) {}

    void receive(const std::uint8_t* data, std::size_t length, Micros now,
                 std::vector<emulated::Reply>& replies) override;
    std::optional<Bytes> interruptData(Micros now) override;

    std::map<std::uint8_t, std::deque<Bytes>> script;
    std::map<std::uint8_t, Bytes> standing;
    std::map<std::uint8_t, std::uint16_t> ports;
    Answer answer;
    Micros delay = 0;
    std::optional<Bytes> interrupt;
    Micros interruptFrom = 0;
};

// Every transfer is answered with `reply`.
ScriptedFirmware::Answer always(Bytes reply);
// Every transfer whose byte 1 is DIR_GET is answered with `count` bytes: byte i is the transfer's
// byte i plus one, so each reply tells which packet it answers.
ScriptedFirmware::Answer echoing(std::size_t count);
// What echoing(count) answers to `packet`.
Bytes echoOf(const Bytes& packet, std::size_t count);

}  // namespace tarvex::testing
