#include "emulated/demo/calibration_store.h"

#include <algorithm>

namespace tarvex::emulated::demo {

namespace {

struct FixedPoint {
    std::uint16_t whole;
    std::uint16_t tenThousandths;
};

constexpr FixedPoint kFactoryValues[CALIB_VALUE_COUNT] = {
    {1, 0}, {2048, 0}, {0, 6104}, {25, 0}, {1, 120}, {12, 5000}, {0, 0},
};

}  // namespace

CalibrationStore::CalibrationStore() {
    for (std::size_t i = 0; i < CALIB_VALUE_COUNT; ++i) {
        putWord(&block_[4 * i], kFactoryValues[i].whole);
        putWord(&block_[4 * i + 2], kFactoryValues[i].tenThousandths);
    }
}

void CalibrationStore::store(const std::uint8_t* block) {
    std::copy(block, block + block_.size(), block_.begin());
    origin_ = kUserStored;
}

Bytes CalibrationStore::reply() const {
    Bytes bytes(kCalibrationReplyBytes);
    bytes[0] = origin_;
    std::copy(block_.begin(), block_.end(), bytes.begin() + 1);
    return bytes;
}

}  // namespace tarvex::emulated::demo
