// A fixture whose suite loads tarvex.dll once, as a host program would, and whose every test
// starts only when the DLL loaded with all its exports.
#pragma once

#include <gtest/gtest.h>

#include "tarvex_dll.h"

namespace tarvex::wine {

class DllTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { dll = new TarvexDll; }
    static void TearDownTestSuite() {
        delete dll;
        dll = nullptr;
    }
    void SetUp() override {
        ASSERT_NE(dll->module(), nullptr) << "tarvex.dll did not load";
        ASSERT_TRUE(dll->missing().empty()) << "missing export " << dll->missing().front();
    }

    static inline TarvexDll* dll = nullptr;
};

}  // namespace tarvex::wine
