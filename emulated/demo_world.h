// An emulated world set up as a DemoConfig asks: its devices plugged in member-index order,
// each board running the demo firmware with the config's signal, its fault and its trace; or,
// when the config names a recording to replay, that recording.  The tool's --demo and the demo
// library both make theirs here.
#pragma once

#include <memory>
#include <vector>

#include "emulated/demo_config.h"
#include "emulated/world.h"

namespace tarvex::record {
class Replayer;
}

namespace tarvex::emulated {

class DemoWorld {
public:
    explicit DemoWorld(const DemoConfig& config);
    ~DemoWorld();
    DemoWorld(const DemoWorld&) = delete;
    DemoWorld& operator=(const DemoWorld&) = delete;

    World& world() { return world_; }
    // The backend the library is to use: the replayed recording, or else the world.
    platform::Backend& backend();
    // The replayed recording (null when the config names none).
    record::Replayer* replayer() { return replayer_.get(); }
    // The demo boards, in member-index order.
    const std::vector<Board*>& boards() const { return boards_; }

private:
    World world_;
    std::vector<Board*> boards_;
    std::unique_ptr<record::Replayer> replayer_;
};

}  // namespace tarvex::emulated
