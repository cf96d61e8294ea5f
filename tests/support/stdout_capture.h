// Standard output written while a capture lives (the library prints its diagnostics there).
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace tarvex::testing {

class StdoutCapture {
public:
    StdoutCapture() { ::testing::internal::CaptureStdout(); }
    ~StdoutCapture() {
        if (!taken_) ::testing::internal::GetCapturedStdout();
    }
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;
    std::string take() {
        taken_ = true;
        return ::testing::internal::GetCapturedStdout();
    }

private:
    bool taken_ = false;
};

}  // namespace tarvex::testing
