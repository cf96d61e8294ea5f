// --demo: the tool talks to an emulated driver with emulated boards behind it instead of the
// system's, so every command works on a machine with no board (and no Windows).
#pragma once

#include <memory>

#include "tool.h"

namespace tarvex::cli {

// The demo board's signal when nothing else is asked for: the rates `eye` folds with by default.
double demoDataRate();
double demoSampleRate();

class Demo {
public:
    // Plugs the devices the options ask for (one demo board by default) into an emulated world
    // and makes that world the library's backend until the Demo is destroyed.
    explicit Demo(const GlobalOptions& options);
    ~Demo();
    Demo(const Demo&) = delete;
    Demo& operator=(const Demo&) = delete;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace tarvex::cli
