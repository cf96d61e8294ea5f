// tarvex ping, reset, set-id, about: the board's system commands.
#include <chrono>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "errors.h"
#include "platform/platform.h"
#include "progress.h"
#include "session.h"
#include "tarvex.h"
#include "tool.h"
#include "values.h"

namespace tarvex::cli {

namespace {

constexpr std::uint32_t kPingReplyBytes = 20;

// The ping reply identifies the firmware: text, padded with NULs.  Empty when it is not text.
std::string replyText(const std::uint8_t* reply, std::size_t length) {
    std::string text;
    std::size_t i = 0;
    for (; i < length && reply[i] != 0; ++i) {
        if (reply[i] < 0x20 || reply[i] > 0x7E) return {};
        text += static_cast<char>(reply[i]);
    }
    for (; i < length; ++i)
        if (reply[i] != 0) return {};
    return text;
}

struct PingArgs {
    unsigned count = 1;
    unsigned intervalMs = 1000;
};

void ping(Tool& tool, const PingArgs& args) {
    BoardSession board(tool.options().index);
    for (unsigned n = 0; n < args.count && !interrupted(); ++n) {
        if (n > 0) platform::backend().sleep(args.intervalMs);
        std::uint8_t reply[kPingReplyBytes] = {};
        clearLastError();
        const auto start = std::chrono::steady_clock::now();
        const int result = u_Ping(board.index(), reply);
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        requireReply(board.index(), result, {"ping", 250, kPingReplyBytes});

        const std::string text = replyText(reply, sizeof reply);
        Json record = {{"index", board.index()},
                       {"reply", std::vector<std::uint8_t>(reply, reply + sizeof reply)},
                       {"text", text},
                       {"ms", ms}};
        tool.out().result(record, [&] {
            Output::line(fmt::format("board {}: {}  ({} bytes in {:.2f} ms)", board.index(),
                                     text.empty() ? hexBytes(reply) : text, sizeof reply, ms));
        });
    }
    if (interrupted()) throw ToolError("interrupted", kExitInterrupted);
}

void reset(Tool& tool, bool bootLoader) {
    BoardSession board(tool.options().index);
    clearLastError();
    if (bootLoader)
        requireSent(board.index(), u_Reset_MCU_Boot(board.index()), {"reset into the boot loader"});
    else
        requireSent(board.index(), u_Reset_MCU(board.index()), {"reset"});
}

void setId(Tool& tool, unsigned id) {
    BoardSession board(tool.options().index);
    clearLastError();
    requireSent(board.index(), u_SetDeviceID(board.index(), static_cast<std::uint8_t>(id)),
                {"device id write"});
}

// Passes every call to the backend in use, except the message box, whose text it keeps: the
// About box becomes lines on the terminal.
class AboutBoxReader final : public platform::Backend {
public:
    explicit AboutBoxReader(platform::Backend& inner) : inner_(inner) {}

    std::string caption;
    std::string text;

    int messageBox(const char* boxText, const char* boxCaption, std::uint32_t) override {
        caption = boxCaption != nullptr ? boxCaption : "";
        text = boxText != nullptr ? boxText : "";
        return 1;  // IDOK, as if the person pressed OK
    }

    std::uint32_t deviceInterfaceDataSize() const override {
        return inner_.deviceInterfaceDataSize();
    }
    std::uint32_t deviceInterfaceDetailSize() const override {
        return inner_.deviceInterfaceDetailSize();
    }
    platform::DevInfo getClassDevs(const platform::Guid& g, std::uint32_t f) override {
        return inner_.getClassDevs(g, f);
    }
    bool enumDeviceInterfaces(platform::DevInfo s, const platform::Guid& g, std::uint32_t i,
                              platform::DeviceInterfaceData* d) override {
        return inner_.enumDeviceInterfaces(s, g, i, d);
    }
    bool getDeviceInterfaceDetail(platform::DevInfo s, platform::DeviceInterfaceData* d,
                                  void* detail, std::uint32_t size,
                                  std::uint32_t* required) override {
        return inner_.getDeviceInterfaceDetail(s, d, detail, size, required);
    }
    bool destroyDeviceInfoList(platform::DevInfo s) override {
        return inner_.destroyDeviceInfoList(s);
    }
    long regOpenKey(const char* k, std::uint32_t o, std::uint32_t a,
                    platform::RegKey* key) override {
        return inner_.regOpenKey(k, o, a, key);
    }
    long regQueryValue(platform::RegKey k, const char* n, std::uint32_t* t, std::uint8_t* d,
                       std::uint32_t* s) override {
        return inner_.regQueryValue(k, n, t, d, s);
    }
    long regCloseKey(platform::RegKey k) override { return inner_.regCloseKey(k); }
    platform::Handle createFile(const char* n, std::uint32_t a, std::uint32_t s, std::uint32_t d,
                                std::uint32_t f) override {
        return inner_.createFile(n, a, s, d, f);
    }
    bool readFile(platform::Handle h, void* b, std::uint32_t l, std::uint32_t* c,
                  platform::Overlapped* o) override {
        return inner_.readFile(h, b, l, c, o);
    }
    bool writeFile(platform::Handle h, const void* b, std::uint32_t l, std::uint32_t* c,
                   platform::Overlapped* o) override {
        return inner_.writeFile(h, b, l, c, o);
    }
    bool deviceIoControl(platform::Handle h, std::uint32_t code, void* in, std::uint32_t inSize,
                         void* out, std::uint32_t outSize, std::uint32_t* returned,
                         platform::Overlapped* o) override {
        return inner_.deviceIoControl(h, code, in, inSize, out, outSize, returned, o);
    }
    bool getOverlappedResult(platform::Handle h, platform::Overlapped* o, std::uint32_t* c,
                             bool w) override {
        return inner_.getOverlappedResult(h, o, c, w);
    }
    bool cancelIo(platform::Handle h) override { return inner_.cancelIo(h); }
    bool closeHandle(platform::Handle h) override { return inner_.closeHandle(h); }
    platform::Handle createEvent(bool m, bool i) override { return inner_.createEvent(m, i); }
    bool resetEvent(platform::Handle e) override { return inner_.resetEvent(e); }
    std::uint32_t waitForSingleObject(platform::Handle h, std::uint32_t t) override {
        return inner_.waitForSingleObject(h, t);
    }
    std::uint32_t getLastError() override { return inner_.getLastError(); }
    void setLastError(std::uint32_t c) override { inner_.setLastError(c); }
    void sleep(std::uint32_t ms) override { inner_.sleep(ms); }

private:
    platform::Backend& inner_;
};

void about(Tool& tool) {
    AboutBoxReader reader(platform::backend());
    {
        platform::ScopedBackend use(reader);
        u_About();
    }
    const std::uint32_t dll = MPUSBGetDLLVersion();
    const std::string interfaceVersion = fmt::format("{}.{}.{}.{}", dll >> 24, (dll >> 16) & 0xFF,
                                                     (dll >> 8) & 0xFF, dll & 0xFF);
    Json record = {{"tool", TARVEX_VERSION},
                   {"apiRevision", u_GetAPIRev()},
                   {"interfaceVersion", interfaceVersion},
                   {"caption", reader.caption},
                   {"text", reader.text}};
    tool.out().result(record, [&] {
        Output::line(reader.caption);
        Output::line(reader.text);
        Output::line("");
        Output::fields({{"tool", TARVEX_VERSION},
                        {"API revision", hexWord(static_cast<std::uint16_t>(u_GetAPIRev()))},
                        {"interface version", interfaceVersion}});
    });
}

}  // namespace

void addSystemCommands(Tool& tool) {
    auto& app = tool.app();

    auto args = std::make_shared<PingArgs>();
    auto* pingCommand = app.add_subcommand("ping", "Ping the board: it answers with its firmware id");
    pingCommand->add_option("-c,--count", args->count, "Pings to send")
        ->check(range(1, 1000000))
        ->capture_default_str();
    pingCommand->add_option("--interval", args->intervalMs, "Milliseconds between pings")
        ->check(range(0, 3600000))
        ->capture_default_str();
    tool.on(pingCommand, [args](Tool& t) { ping(t, *args); });

    auto boot = std::make_shared<bool>(false);
    auto* resetCommand = app.add_subcommand("reset", "Reset the board's microcontroller");
    resetCommand->add_flag("--boot", *boot, "Reset into the boot loader (for a firmware update)");
    tool.on(resetCommand, [boot](Tool& t) { reset(t, *boot); });

    auto id = std::make_shared<unsigned>(0);
    auto* setIdCommand = app.add_subcommand("set-id", "Set the board's device id");
    setIdCommand->add_option("ID", *id, "Device id, 0..255")->required()->check(byteRange());
    tool.on(setIdCommand, [id](Tool& t) { setId(t, *id); });

    auto* aboutCommand =
        app.add_subcommand("about", "Show the library's About text and its versions");
    tool.on(aboutCommand, about);
}

}  // namespace tarvex::cli
