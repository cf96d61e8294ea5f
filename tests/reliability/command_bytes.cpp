#include "reliability/command_bytes.h"

#include <cmath>

namespace tarvex::reliability::wire {
namespace {

// Byte positions and codes of the board protocol.
constexpr std::uint8_t kCommand = 0, kDirection = 1, kLength = 2, kSelector = 3, kPayload = 4;
constexpr std::uint8_t kSet = 0, kGet = 1;
constexpr std::uint8_t kPort = 0xF0, kVscTemp = 0xF1, kI2c = 0xF2, kMdio = 0xF5, kScope = 0xF6,
                       kScopeFast = 0xF7, kVScope = 0xF8, kEth = 0xF9, kSystem = 0xFA;

Step commandStep(std::vector<ByteWrite> writes, bool optional = false) {
    Step step;
    step.kind = Step::Kind::kPacket;
    step.writes = std::move(writes);
    step.optional = optional;
    return step;
}

std::uint8_t lowByte(std::uint32_t v) { return static_cast<std::uint8_t>(v & 0xFF); }
std::uint8_t highByte(std::uint32_t v) { return static_cast<std::uint8_t>((v >> 8) & 0xFF); }

void append(Steps& to, const Steps& steps) { to.insert(to.end(), steps.begin(), steps.end()); }

// A port 3 write of a read-modify-write: the value is what the board answered, with the bits of
// `mask` forced to `bits`.  The library may skip it when its read of port 3 did not succeed.
Step controlPortWrite(std::uint16_t mask, std::uint16_t bits) {
    return commandStep({{kCommand, kPort},
                   {kDirection, kSet},
                   {kSelector, 3},
                   {kPayload, lowByte(bits), lowByte(mask)},
                   {kPayload + 1, highByte(bits), highByte(mask)}},
                  /*optional=*/true);
}

}  // namespace

Steps ping() { return {commandStep({{kCommand, kSystem}, {kDirection, kGet}, {kSelector, 0}})}; }
Steps resetMcu() { return {commandStep({{kCommand, kSystem}, {kDirection, kSet}, {kSelector, 1}})}; }
Steps resetMcuBoot() {
    return {commandStep({{kCommand, kSystem}, {kDirection, kSet}, {kSelector, 2}})};
}
Steps setDeviceId(std::uint8_t id) {
    return {commandStep({{kCommand, kSystem}, {kDirection, kSet}, {kSelector, 4}, {kPayload, id}})};
}

Steps setEth(std::uint8_t selector, const std::uint8_t* bytes) {
    std::vector<ByteWrite> writes{{kCommand, kEth}, {kDirection, kSet}, {kSelector, selector}};
    const int count = selector == 3 ? 6 : 4;
    for (int i = 0; i < count; ++i)
        writes.push_back({static_cast<std::uint8_t>(kPayload + i), bytes[i]});
    return {commandStep(writes)};
}

Steps getEth(std::uint8_t selector) {
    std::vector<ByteWrite> writes{{kCommand, kEth}, {kDirection, kGet}, {kSelector, selector}};
    if (selector == 3) writes.push_back({kLength, 6});
    return {commandStep(writes)};
}

Steps i2cWrite(std::uint8_t device, const std::uint8_t* data, std::uint8_t count,
               std::uint8_t reg, std::uint8_t aux) {
    Step block;
    block.kind = Step::Kind::kBlock;
    block.data.assign(data, data + count);
    block.optional = true;
    block.needsPrevious = true;
    return {commandStep({{kCommand, kI2c},
                    {kDirection, kSet},
                    {kLength, count},
                    {kSelector, 2},
                    {kPayload, device},
                    {kPayload + 1, reg},
                    {kPayload + 2, aux}}),
            block};
}

Steps i2cRead(std::uint8_t device, std::uint8_t count, std::uint8_t reg, std::uint8_t aux) {
    return {commandStep({{kCommand, kI2c},
                    {kDirection, kGet},
                    {kLength, count},
                    {kSelector, 2},
                    {kPayload, device},
                    {kPayload + 1, reg},
                    {kPayload + 2, aux}})};
}

Steps setClockChip(std::uint8_t chip, std::uint8_t device, std::uint8_t reg, std::uint8_t value) {
    return {commandStep({{kCommand, kI2c},
                    {kDirection, kSet},
                    {kSelector, chip},
                    {kPayload, device},
                    {kPayload + 1, reg},
                    {kPayload + 2, value}})};
}

Steps getClockChip(std::uint8_t chip, std::uint8_t device, std::uint8_t reg) {
    return {commandStep({{kCommand, kI2c},
                    {kDirection, kGet},
                    {kSelector, chip},
                    {kPayload, device},
                    {kPayload + 1, reg}})};
}

Steps setMdio(std::uint8_t address, std::uint16_t reg, std::uint16_t value) {
    return {commandStep({{kCommand, kMdio},
                    {kDirection, kSet},
                    {kSelector, address},
                    {kPayload, lowByte(reg)},
                    {kPayload + 1, highByte(reg)},
                    {kPayload + 2, lowByte(value)},
                    {kPayload + 3, highByte(value)}})};
}

Steps getMdio(std::uint8_t address, std::uint16_t reg) {
    return {commandStep({{kCommand, kMdio},
                    {kDirection, kGet},
                    {kSelector, address},
                    {kPayload, lowByte(reg)},
                    {kPayload + 1, highByte(reg)}})};
}

Steps setPort(std::uint8_t port, std::uint16_t value) {
    return {commandStep({{kCommand, kPort},
                    {kDirection, kSet},
                    {kSelector, port},
                    {kPayload, lowByte(value)},
                    {kPayload + 1, highByte(value)}})};
}

Steps getPort(std::uint8_t port) {
    return {commandStep({{kCommand, kPort}, {kDirection, kGet}, {kSelector, port}})};
}

Steps getStatus() {
    Steps steps;
    for (std::uint8_t port : {3, 2, 4}) append(steps, getPort(port));
    return steps;
}

// Port 3 read once, then written with bits 0 and 1 low and, 50 ms later, high.
Steps resetFifo() {
    Steps steps = getPort(3);
    steps.push_back(controlPortWrite(0x0003, 0x0000));
    steps.push_back(controlPortWrite(0x0003, 0x0003));
    return steps;
}

// FIFO reset, capture enable (bit 5 of port 3) cleared, then set.
Steps captureStart() {
    Steps steps = resetFifo();
    append(steps, getPort(3));
    steps.push_back(controlPortWrite(0x0020, 0x0000));
    append(steps, getPort(3));
    steps.push_back(controlPortWrite(0x0020, 0x0020));
    return steps;
}

// Length and selector are not written: they go out as the command before left them.
Steps scopePacket(bool fast) {
    return {commandStep({{kCommand, fast ? kScopeFast : kScope}, {kDirection, kGet}})};
}

Steps scopeSamples(bool fast, std::uint16_t packets) {
    Steps steps = captureStart();
    for (std::uint32_t i = 0; i < packets; ++i) append(steps, scopePacket(fast));
    return steps;
}

Steps generateVScopeEye() { return {commandStep({{kCommand, kVScope}, {kDirection, kSet}})}; }

// The page offset pageLength x (page - 1), kept to 16 bits, straddles the selector and the
// first payload byte.
Steps vScopePacket(std::uint8_t pageLength, std::uint8_t page) {
    const std::int32_t product = std::int32_t{pageLength} * (std::int32_t{page} - 1);
    const auto offset = static_cast<std::uint32_t>(product) & 0xFFFF;
    return {commandStep({{kCommand, kVScope},
                    {kDirection, kGet},
                    {kLength, pageLength},
                    {kSelector, lowByte(offset)},
                    {kPayload, highByte(offset)}})};
}

Steps vScopeSamples() {
    Steps steps = generateVScopeEye();
    for (int page = 1; page <= 16; ++page)
        append(steps, vScopePacket(64, static_cast<std::uint8_t>(page)));
    return steps;
}

Steps vscTemp() { return {commandStep({{kCommand, kVscTemp}, {kDirection, kGet}, {kSelector, 0}})}; }

CalibrationWire encodeCalibration(float value) {
    CalibrationWire wire{{0, 0, 0, 0}, {0, 0, 0, 0}};
    const double v = value;
    // Integer part: v truncated to a 32-bit integer, low 16 bits; fraction: (v - integer part)
    // x 10000 truncated, low 16 bits.  Defined while both truncations fit 32 bits.
    if (!std::isfinite(v) || !(v > -2147483648.0 && v < 2147483648.0)) return wire;
    const auto t = static_cast<std::int32_t>(v);
    const auto intPart = static_cast<std::uint16_t>(static_cast<std::uint32_t>(t) & 0xFFFF);
    const double product = (v - static_cast<double>(intPart)) * 10000.0;
    if (!(product > -2147483648.0 && product < 2147483648.0)) return wire;
    const auto f = static_cast<std::int32_t>(product);
    const auto fracPart = static_cast<std::uint16_t>(static_cast<std::uint32_t>(f) & 0xFFFF);
    wire = {{lowByte(intPart), highByte(intPart), lowByte(fracPart), highByte(fracPart)},
            {0xFF, 0xFF, 0xFF, 0xFF}};
    return wire;
}

Steps storeCalibration(const float* values) {
    Step block;
    block.kind = Step::Kind::kBlock;
    block.optional = true;  // refused without I/O after the header dropped the board's pipes
    for (int i = 0; i < 7; ++i) {
        const CalibrationWire wire = encodeCalibration(values[i]);
        block.data.insert(block.data.end(), wire.bytes, wire.bytes + 4);
        block.dataMask.insert(block.dataMask.end(), wire.mask, wire.mask + 4);
    }
    return {commandStep({{kCommand, kSystem}, {kDirection, kSet}, {kLength, 28}, {kSelector, 3}}),
            block};
}

Steps getCalibration() {
    return {commandStep({{kCommand, kSystem}, {kDirection, kGet}, {kLength, 28}, {kSelector, 3}})};
}

Steps raw(const std::uint8_t* data, std::uint32_t length) {
    Step step;
    step.kind = Step::Kind::kRaw;
    if (length) step.data.assign(data, data + length);
    step.optional = true;
    return {step};
}

}  // namespace tarvex::reliability::wire
