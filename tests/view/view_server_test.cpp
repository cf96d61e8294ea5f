// The view's server over loopback, in this process: the demo world on the virtual clock, the
// acquisition thread capturing from it, and requests as a browser or a stranger would send
// them.  What the page is allowed, what it is refused (and that a refusal changes nothing),
// the frames' content, the mask, and a board that goes away and comes back.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <thread>
#include <string>
#include <vector>

#include "emulated/demo_world.h"
#include "platform/export_lock.h"
#include "view/view_client.h"
#include "view_acquisition.h"
#include "view_server.h"

namespace tarvex::cli::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::MatchesRegex;
using ::testing::StartsWith;
using nlohmann::json;

constexpr const char* kToken = "view-test-token-0123456789";

emulated::DemoConfig virtualDemo() {
    emulated::DemoConfig config;
    config.clock = emulated::ClockMode::kVirtual;
    return config;
}

class ViewServerTest : public ::testing::Test {
protected:
    ViewServerTest() : demo_(virtualDemo()), use_(demo_.world()) {
        ViewSettings settings;
        settings.dataRate = 1.25e9;
        settings.sampleRate = 99e6;
        acquisition_.emplace(settings, hub_);
        ViewServerOptions options;
        options.port = 0;
        options.token = kToken;
        server_.emplace(options, *acquisition_, hub_);
        port_ = server_->bind();
        acquisition_->start();
        server_->start();
        client_.emplace(port_, kToken);
    }
    ~ViewServerTest() override {
        server_->stop();
        acquisition_->stop();
    }

    std::string host() const { return "127.0.0.1:" + std::to_string(port_); }

    // Command packets the board has received (read between two of the acquisition's commands).
    std::uint64_t packetsReceived() {
        const platform::ExportLock lock;
        auto& firmware = dynamic_cast<emulated::demo::DemoFirmware&>(demo_.boards()[0]->firmware());
        return firmware.counters().packets;
    }

    emulated::DemoWorld demo_;
    platform::ScopedBackend use_;
    FrameHub hub_;
    std::optional<Acquisition> acquisition_;
    std::optional<ViewServer> server_;
    int port_ = 0;
    std::optional<ViewClient> client_;
};

// One refused request: how it is sent and what it must get.
struct Refusal {
    const char* what;
    const char* method;
    const char* path;
    std::vector<std::pair<std::string, std::string>> headers;  // "{host}" is this server's
    std::string body;
    const char* contentType;
    int status;
    const char* sentence;  // what the answer must contain
    bool withToken = true;
};

TEST_F(ViewServerTest, EveryRefusalAnswersWithItsStatusAndOneSentenceAndChangesNothing) {
    const json before = client_->state();
    const std::string big(70 * 1024, ' ');
    const std::vector<Refusal> refusals = {
        {"no token", "GET", "/api/state", {}, "", "", 401, "needs its token", false},
        {"a wrong token", "GET", "/api/state?token=not-the-token-at-all", {}, "", "", 401,
         "needs its token", false},
        {"no token for the page", "GET", "/", {}, "", "", 401, "needs its token", false},
        {"a DNS name", "GET", "/api/state", {{"Host", "evil.example:{port}"}}, "", "", 403,
         "answers only to"},
        {"another port", "GET", "/api/state", {{"Host", "127.0.0.1:1"}}, "", "", 403,
         "answers only to"},
        {"another site", "POST", "/api/settings", {{"Origin", "http://evil.example"}},
         R"({"run":false})", "application/json", 403, "other sites"},
        {"a sandboxed page", "GET", "/api/state", {{"Origin", "null"}}, "", "", 403,
         "other sites"},
        {"a cross-site fetch", "GET", "/api/frame", {{"Sec-Fetch-Site", "cross-site"}}, "", "",
         403, "other sites"},
        {"a form post", "POST", "/api/settings", {}, "run=false",
         "application/x-www-form-urlencoded", 415, "sends JSON"},
        {"bad JSON", "POST", "/api/settings", {}, R"({"run":)", "application/json", 400,
         "not valid JSON"},
        {"not an object", "POST", "/api/settings", {}, "[1]", "application/json", 400,
         "must be a JSON object"},
        {"no packets", "POST", "/api/settings", {}, R"({"packets":0})", "application/json", 400,
         "packets must be a whole number from 1 to 65535"},
        {"too many packets", "POST", "/api/settings", {}, R"({"packets":65536})",
         "application/json", 400, "from 1 to 65535"},
        {"a fraction of a packet", "POST", "/api/settings", {}, R"({"packets":2.5})",
         "application/json", 400, "whole number"},
        {"packets as text", "POST", "/api/settings", {}, R"({"packets":"256"})",
         "application/json", 400, "whole number"},
        {"a negative rate", "POST", "/api/settings", {}, R"({"dataRate":-1})",
         "application/json", 400, "dataRate must be a rate above 0"},
        {"a rate in words", "POST", "/api/settings", {}, R"({"sampleRate":"fast"})",
         "application/json", 400, "sampleRate must be a rate"},
        {"a rate too high", "POST", "/api/settings", {}, R"({"dataRate":2e12})",
         "application/json", 400, "up to 1e12"},
        {"rates that fold no eye", "POST", "/api/settings", {},
         R"({"dataRate":"1T","sampleRate":1})", "application/json", 400, "gives no eye"},
        {"x scale beyond 16 bits", "POST", "/api/settings", {}, R"({"xScale":65536})",
         "application/json", 400, "xScale must be a whole number from 0 to 65535"},
        {"a board not there", "POST", "/api/settings", {}, R"({"board":3})", "application/json",
         400, "no board at index 3: 1 board found, at index 0"},
        {"run as text", "POST", "/api/settings", {}, R"({"run":"yes"})", "application/json", 400,
         "run must be true or false"},
        {"a setting the page does not have", "POST", "/api/settings", {}, R"({"reset":true})",
         "application/json", 400, "there is no setting called \"reset\""},
        {"a mask of no kind", "POST", "/api/mask", {}, R"({"x1":0.2})", "application/json", 400,
         "says its kind"},
        {"a hexagon inside out", "POST", "/api/mask", {},
         R"({"kind":"hexagon","x1":0.4,"x2":0.2,"y1":0.25,"y2":0.2})", "application/json", 400,
         "0 <= x1 < x2 <= 0.5"},
        {"a hexagon short of a number", "POST", "/api/mask", {},
         R"({"kind":"hexagon","x1":0.2,"x2":0.4,"y1":0.25})", "application/json", 400,
         "needs y2 as a number"},
        {"a mask file that is not one", "POST", "/api/mask", {},
         R"({"kind":"file","name":"m.json","text":"{\"regions\": 3}"})", "application/json", 400,
         "the mask file cannot be used: "},
        {"a mask with extras", "POST", "/api/mask", {}, R"({"kind":"none","x1":1})",
         "application/json", 400, "takes no \"x1\""},
        {"a body too big", "POST", "/api/settings", {}, big, "application/json", 413,
         "at most 64 KiB"},
        {"a frame number in words", "GET", "/api/frame?after=latest", {}, "", "", 400,
         "after must be a frame number"},
        {"an address with nothing", "GET", "/api/reset", {}, "", "", 404, "nothing at this address"},
        {"a POST where there is nothing", "POST", "/api/i2c", {}, "{}", "application/json", 404,
         "nothing at this address"},
    };
    for (const Refusal& refusal : refusals) {
        SCOPED_TRACE(refusal.what);
        Headers headers;
        for (auto [name, value] : refusal.headers) {
            if (auto at = value.find("{port}"); at != std::string::npos)
                value.replace(at, 6, std::to_string(port_));
            headers.emplace(name, value);
        }
        const auto result =
            std::string(refusal.method) == "GET"
                ? client_->get(refusal.path, headers, refusal.withToken)
                : client_->post(refusal.path, refusal.body, refusal.contentType, headers);
        ASSERT_TRUE(result);
        EXPECT_EQ(result->status, refusal.status);
        EXPECT_THAT(result->body, HasSubstr(refusal.sentence));
        // One sentence, on one line.
        EXPECT_THAT(result->body, MatchesRegex("[^\n]+\n"));
    }
    json after = client_->state();
    EXPECT_EQ(after["settings"], before["settings"]);
    EXPECT_EQ(after["mask"], before["mask"]);
}

TEST_F(ViewServerTest, TheTokenIsTakenFromTheQueryOrTheHeaderAndTheHostByAddressOrLocalhost) {
    for (const std::string& hostHeader : {host(), "localhost:" + std::to_string(port_),
                                          "[::1]:" + std::to_string(port_)}) {
        SCOPED_TRACE(hostHeader);
        EXPECT_EQ(client_->get("/api/config", {{"Host", hostHeader}})->status, 200);
        EXPECT_EQ(client_->get(std::string("/api/config?token=") + kToken, {{"Host", hostHeader}},
                               false)->status, 200);
    }
    const auto sameSite = client_->post("/api/settings", R"({"packets":128})", "application/json",
                                        {{"Origin", "http://" + host()},
                                         {"Sec-Fetch-Site", "same-origin"}});
    EXPECT_EQ(sameSite->status, 200);
}

TEST_F(ViewServerTest, ThePageCarriesItsTokenToItsOwnFilesAndGetsThePicturesLook) {
    const auto page = client_->get("/");
    ASSERT_EQ(page->status, 200);
    EXPECT_THAT(page->body, HasSubstr(std::string("view.js?token=") + kToken));
    EXPECT_THAT(page->body, Not(HasSubstr("{{token}}")));
    EXPECT_EQ(page->header("Content-Security-Policy").find("script-src 'self'") !=
                  std::string::npos,
              true);
    EXPECT_THAT(client_->get("/view.js")->header("Content-Type"),
                StartsWith("text/javascript"));
    const json config = json::parse(client_->get("/api/config")->body);
    EXPECT_EQ(config["palette"].size(), 256u);
    EXPECT_EQ(config["palette"].front(), "#141a73");  // the picture's palette, 0 and 1
    EXPECT_EQ(config["palette"].back(), "#ffffff");
    EXPECT_EQ(config["measurements"].size(), std::size_t{TVA_MEASUREMENT_COUNT});
    EXPECT_EQ(config["uiStart"], -0.5);
}

TEST_F(ViewServerTest, FramesCountEverySampleOnceAndMeasureTheDemoSignal) {
    // Now and then 256 packets have too few edges for the jitter: a frame that has them.
    const Frame frame = client_->frameWhere([](const Frame& f) {
        return f.header.contains("layout") && f.header["measurements"]["jitterRms"]["measurable"];
    });
    const json& header = frame.header;
    ASSERT_TRUE(header.contains("measurements"));
    EXPECT_EQ(header["points"], 8192);
    EXPECT_EQ(frame.hitTotal, 8192u);
    const json& layout = header["layout"];
    EXPECT_EQ(layout["rows"], 256);
    EXPECT_LT(frame.lastCell, layout["rows"].get<std::size_t>() * layout["columns"].get<std::size_t>());
    EXPECT_EQ(header["capture"]["ok"], 256);
    EXPECT_EQ(header["board"]["state"], "running");
    EXPECT_EQ(header["board"]["flags"]["pllLocked"], true);
    EXPECT_NEAR(header["measurements"]["oneLevel"]["value"].get<double>(), 3300, 60);
    EXPECT_NEAR(header["measurements"]["zeroLevel"]["value"].get<double>(), 800, 60);
    EXPECT_NEAR(header["measurements"]["jitterRms"]["value"].get<double>(), 8e-12, 6e-12);

    // The points of the newest eye, as `tarvex eye --csv` writes them.
    const auto csv = client_->get("/api/points.csv");
    ASSERT_EQ(csv->status, 200);
    EXPECT_THAT(csv->body, StartsWith("sample,x,y\n0,"));
    EXPECT_EQ(std::count(csv->body.begin(), csv->body.end(), '\n'), 8193);
}

TEST_F(ViewServerTest, ASettingReachesTheNextFramesAndPauseLeavesTheBoardAlone) {
    const auto changed =
        client_->post("/api/settings", R"({"dataRate":"1.2G","packets":64,"xScale":2})");
    ASSERT_EQ(changed->status, 200);
    EXPECT_EQ(json::parse(changed->body)["settings"]["dataRate"], 1.2e9);
    const Frame frame = client_->frameWhere([](const Frame& f) {
        return f.header.contains("layout") && f.header["settings"]["dataRate"] == 1.2e9;
    });
    EXPECT_EQ(frame.header["points"], 64 * 32);
    EXPECT_EQ(frame.hitTotal, 64u * 32u);
    EXPECT_THAT(frame.header["layout"]["title"].get<std::string>(), HasSubstr("1.2 Gb/s data"));

    ASSERT_EQ(client_->post("/api/settings", R"({"run":false})")->status, 200);
    const Frame paused = client_->frameWhere(
        [](const Frame& f) { return f.header["board"]["state"] == "paused"; },
        frame.header["seq"]);
    EXPECT_FALSE(paused.header.contains("layout"));
    const auto packets = packetsReceived();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(packetsReceived(), packets);

    ASSERT_EQ(client_->post("/api/settings", R"({"run":true})")->status, 200);
    client_->frameWhere([](const Frame& f) { return f.header.contains("layout"); },
                        paused.header["seq"]);
}

TEST_F(ViewServerTest, AMaskShowsItsMarginAndTheSamplesInsideIt) {
    ASSERT_EQ(client_->post("/api/mask", R"({"kind":"hexagon","x1":0.25,"x2":0.4,"y1":0.25,"y2":0.2})")
                  ->status,
              200);
    const Frame open = client_->frameWhere([](const Frame& f) { return f.header.contains("mask"); });
    const json& mask = open.header["mask"];
    EXPECT_EQ(mask["spec"], "hexagon:0.25,0.4,0.25,0.2");
    EXPECT_EQ(mask["passed"], true);
    EXPECT_GT(mask["marginPercent"].get<double>(), 5);
    EXPECT_EQ(open.failTotal, 0u);
    EXPECT_EQ(mask["regions"][0]["outline"].size(), 6u);

    // A hexagon over nearly the whole eye: samples inside it, drawn apart.
    ASSERT_EQ(client_->post("/api/mask", R"({"kind":"hexagon","x1":0,"x2":0.05,"y1":0.02,"y2":0})")
                  ->status,
              200);
    const Frame closed = client_->frameWhere(
        [](const Frame& f) { return f.header.contains("mask") && f.header["mask"]["passed"] == false; });
    EXPECT_GT(closed.header["mask"]["failedSamples"].get<int>(), 0);
    EXPECT_EQ(closed.failTotal, closed.header["mask"]["failedSamples"].get<std::uint64_t>());
    EXPECT_LT(closed.header["mask"]["marginPercent"].get<double>(), 0);

    // A mask file, as the page uploads it: a diamond in the middle of the eye.
    const json upload = {{"kind", "file"},
                         {"name", "diamond.json"},
                         {"text", R"({"version": 1, "regions": [{"name": "diamond",
                                     "points": [[0.3, 0.5], [0.5, 0.3], [0.7, 0.5], [0.5, 0.7]]}]})"}};
    const auto uploaded = client_->post("/api/mask", upload.dump());
    ASSERT_EQ(uploaded->status, 200);
    EXPECT_EQ(json::parse(uploaded->body)["mask"]["regions"][0]["name"], "diamond");
    const Frame diamond = client_->frameWhere([](const Frame& f) {
        return f.header.contains("mask") && f.header["mask"]["spec"] == "diamond.json";
    });
    EXPECT_EQ(diamond.header["mask"]["passed"], true);
    EXPECT_EQ(diamond.header["mask"]["regions"][0]["outline"].size(), 4u);

    ASSERT_EQ(client_->post("/api/mask", R"({"kind":"none"})")->status, 200);
    client_->frameWhere([](const Frame& f) {
        return f.header.contains("layout") && !f.header.contains("mask");
    });
}

TEST_F(ViewServerTest, ABoardThatGoesAwayIsAStateAndIsTakenUpAgainWhenItIsBack) {
    const Frame running = client_->frameWhere([](const Frame& f) { return f.header.contains("layout"); });
    emulated::World& world = demo_.world();
    const emulated::InterfaceId board = world.idOf(*demo_.boards()[0]);
    {
        // The world is the acquisition thread's; it is touched only between two of its commands.
        const platform::ExportLock lock;
        world.unplug(board);
    }
    const Frame gone = client_->frameWhere(
        [](const Frame& f) { return f.header["board"]["state"] == "gone"; }, running.header["seq"]);
    EXPECT_THAT(gone.header["board"]["message"].get<std::string>(), HasSubstr("board 0"));
    EXPECT_EQ(client_->state()["board"]["state"], "gone");
    // The last eye is still there to save.
    EXPECT_EQ(client_->get("/api/points.csv")->status, 200);
    {
        const platform::ExportLock lock;
        world.replug(board);
    }
    const Frame back = client_->frameWhere(
        [](const Frame& f) { return f.header.contains("layout"); }, gone.header["seq"]);
    EXPECT_EQ(back.header["board"]["state"], "running");
    EXPECT_EQ(back.hitTotal, 8192u);
}

}  // namespace
}  // namespace tarvex::cli::test
