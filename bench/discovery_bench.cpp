// Figure 4: counting the boards among 127 interfaces of the driver (boards and other vendors'
// devices mixed), beside one snapshot of the interface list taken on the world directly.
//
// Counting must also tell each interface's vendor and product from its registry key, which one
// snapshot does not: the bare snapshot with those registry reads is measured too, to show what
// bounds the count.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "bench/benchmarks.h"
#include "bench/figures.h"
#include "emulated/world.h"
#include "platform/platform.h"
#include "tarvex.h"
#include "usb/usb.h"

namespace tarvex::bench {
namespace {

using emulated::World;

constexpr std::uint32_t kInterfaces = usb::DEVICE_SCAN_COUNT;  // 127
constexpr std::uint32_t kBoards = 85;                          // every third one is another's

// 127 interfaces, every third of another vendor, installed as the platform.
class CrowdedWorld {
public:
    CrowdedWorld() : use_(world) {
        for (std::uint32_t i = 0; i < kInterfaces; ++i) {
            emulated::InterfaceId id =
                i % 3 == 2 ? world.plugDevice(0x1234, 0x5678) : world.idOf(world.plugBoard());
            keys.push_back(world.registryKeyOf(id));
        }
    }

    World world;
    std::vector<std::string> keys;  // each interface's registry key, in member-index order

private:
    platform::ScopedBackend use_;
};

// One snapshot: taken, every member enumerated, released.
bool snapshot(World& world) {
    const platform::DevInfo set = world.getClassDevs(
        driver::DEVICE_INTERFACE_GUID, platform::kDigcfPresent | platform::kDigcfDeviceInterface);
    if (set == platform::invalidHandle()) return false;
    bool all = true;
    for (std::uint32_t i = 0; i < kInterfaces; ++i) {
        platform::DeviceInterfaceData data{};
        data.cbSize = world.deviceInterfaceDataSize();
        all = world.enumDeviceInterfaces(set, driver::DEVICE_INTERFACE_GUID, i, &data) && all;
        benchmark::DoNotOptimize(data);
    }
    world.destroyDeviceInfoList(set);
    return all;
}

// The snapshot with what the count asks of the platform per interface besides: its path (the
// detail record, asked for its size and then filled) and its "DeviceInstance" registry value.
bool snapshotWithRegistry(World& world, const std::vector<std::string>& keys) {
    const platform::DevInfo set = world.getClassDevs(
        driver::DEVICE_INTERFACE_GUID, platform::kDigcfPresent | platform::kDigcfDeviceInterface);
    if (set == platform::invalidHandle()) return false;
    bool all = true;
    char detail[512];
    for (std::uint32_t i = 0; i < kInterfaces; ++i) {
        platform::DeviceInterfaceData data{};
        data.cbSize = world.deviceInterfaceDataSize();
        all = world.enumDeviceInterfaces(set, driver::DEVICE_INTERFACE_GUID, i, &data) && all;
        std::uint32_t size = 0;
        world.getDeviceInterfaceDetail(set, &data, nullptr, 0, &size);
        const std::uint32_t cbSize = world.deviceInterfaceDetailSize();
        std::memcpy(detail, &cbSize, sizeof cbSize);
        all = world.getDeviceInterfaceDetail(set, &data, detail, size, nullptr) && all;
        platform::RegKey key = nullptr;
        all = world.regOpenKey(keys[i].c_str(), 0, platform::kKeyQueryValue, &key) == 0 && all;
        std::uint8_t value[256];
        std::uint32_t type = 0, length = 255;
        all = world.regQueryValue(key, "DeviceInstance", &type, value, &length) == 0 && all;
        world.regCloseKey(key);
        benchmark::DoNotOptimize(value);
    }
    world.destroyDeviceInfoList(set);
    return all;
}

// The registry reads alone: each interface's key opened, its "DeviceInstance" read, closed.
bool registryReads(World& world, const std::vector<std::string>& keys) {
    bool all = true;
    for (const std::string& name : keys) {
        platform::RegKey key = nullptr;
        all = world.regOpenKey(name.c_str(), 0, platform::kKeyQueryValue, &key) == 0 && all;
        std::uint8_t value[256];
        std::uint32_t type = 0, length = 255;
        all = world.regQueryValue(key, "DeviceInstance", &type, value, &length) == 0 && all;
        world.regCloseKey(key);
        benchmark::DoNotOptimize(value);
    }
    return all;
}

void bareRegistryReads(benchmark::State& state) {
    CrowdedWorld w;
    for (auto _ : state)
        if (!registryReads(w.world, w.keys)) state.SkipWithError("a registry read failed");
}

void bareSnapshot(benchmark::State& state) {
    CrowdedWorld w;
    for (auto _ : state)
        if (!snapshot(w.world)) state.SkipWithError("the snapshot failed");
}

void bareSnapshotWithRegistry(benchmark::State& state) {
    CrowdedWorld w;
    for (auto _ : state)
        if (!snapshotWithRegistry(w.world, w.keys)) state.SkipWithError("the snapshot failed");
}

void count(benchmark::State& state, const char* vidPid, std::uint32_t expected) {
    CrowdedWorld w;
    for (auto _ : state)
        if (MPUSBGetDeviceCount(vidPid) != expected) state.SkipWithError("miscounted");
}

// The count as the straightforward algorithm makes it, one snapshot per member index.
void countPerIndex(benchmark::State& state) {
    CrowdedWorld w;
    for (auto _ : state) {
        std::uint32_t count = 0;
        for (std::uint32_t i = 0; i < kInterfaces; ++i)
            if (usb::GetInterfacePath(i, TARVEX_BOARD_VID_PID, nullptr, 0, nullptr) ==
                usb::PATH_OK)
                ++count;
        if (count != kBoards) state.SkipWithError("miscounted");
    }
}

}  // namespace

void registerDiscoveryBenchmarks() {
    benchmark::RegisterBenchmark("discovery/snapshot/bare", bareSnapshot)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("discovery/snapshot+registry/bare", bareSnapshotWithRegistry)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("discovery/registry/bare", bareRegistryReads)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("discovery/count", count, TARVEX_BOARD_VID_PID, kBoards)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("discovery/count/any", count, nullptr, kInterfaces)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("discovery/count/per-index", countPerIndex)
        ->Unit(benchmark::kMicrosecond);

    addFigure({.title = "MPUSBGetDeviceCount, 127 interfaces (85 boards)",
               .measured = "discovery/count",
               .bound = {{"discovery/snapshot/bare"}},
               .goal = 2.0,
               .boundText = "one bare snapshot"});
    addFigure({.title = "MPUSBGetDeviceCount, 127 interfaces, vs what it must ask the platform",
               .measured = "discovery/count",
               .bound = {{"discovery/snapshot+registry/bare"}},
               .boundText = "bare snapshot + 127 paths + 127 registry reads"});
    addFigure({.title = "127 registry reads alone (bare), what bounds the count",
               .measured = "discovery/registry/bare",
               .bound = {{"discovery/snapshot/bare"}},
               .boundText = "one bare snapshot"});
    addFigure({.title = "MPUSBGetDeviceCount(null), 127 interfaces",
               .measured = "discovery/count/any",
               .bound = {{"discovery/snapshot/bare"}},
               .boundText = "one bare snapshot"});
    addFigure({.title = "Device count with a snapshot per index (before)",
               .measured = "discovery/count/per-index",
               .bound = {{"discovery/snapshot/bare"}},
               .boundText = "one bare snapshot"});
}

}  // namespace tarvex::bench
