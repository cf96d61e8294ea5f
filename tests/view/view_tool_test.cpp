// The built tool's `view` (or tarvex.exe's, see cli/tool_runner.h): it prints its address,
// serves its page and frames to its own host with its token, and on Ctrl-C (or SIGTERM) ends its
// requests, closes the board and exits with status 0.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include "cli/tool_runner.h"
#include "view/view_client.h"

namespace tarvex::cli::test {
namespace {

using ::testing::HasSubstr;
using boost::asio::ip::tcp;

// A port nobody listens on now: the system's pick for a socket that is then closed.
int freePort() {
    boost::asio::io_context io;
    tcp::acceptor probe(io, {boost::asio::ip::address_v4::loopback(), 0});
    return probe.local_endpoint().port();
}

// The tool serving the view on `port`, once it answers.
class ServedView {
public:
    ServedView(int port, const std::string& token)
        : tool_({"--demo", "--demo-virtual-clock", "view", "--port", std::to_string(port),
                 "--token", token},
                {}),
          client_(port, token) {
        // Wine takes a while to start tarvex.exe.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!up_ && std::chrono::steady_clock::now() < deadline) {
            const auto result = client_.get("/api/state");
            up_ = result && result->status == 200;
            if (!up_) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }

    bool up() const { return up_; }
    ToolProcess& tool() { return tool_; }
    ViewClient& client() { return client_; }

private:
    ToolProcess tool_;
    ViewClient client_;
    bool up_ = false;
};

constexpr const char* kToken = "tool-test-token-0123456789";

class ViewToolStop : public ::testing::TestWithParam<int> {};

TEST_P(ViewToolStop, StopsCleanlyWhileAPageWaitsForAFrame) {
    const int signal = GetParam();
    if (signal == SIGTERM) TARVEX_SKIP_FOR_WINDOWS_TOOL("Windows has no SIGTERM");
    const int port = freePort();
    ServedView view(port, kToken);
    ASSERT_TRUE(view.up());
    // A page's request for a frame that will never come: the stop must not wait on it.
    ViewClient waiting(port, kToken);
    auto pending = std::async(std::launch::async,
                              [&] { return waiting.get("/api/frame?after=999999999"); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));

    const auto stopAt = std::chrono::steady_clock::now();
    view.tool().signal(signal);
    const ToolRun run = view.tool().wait();
    EXPECT_LT(std::chrono::steady_clock::now() - stopAt, std::chrono::seconds(3));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "http://127.0.0.1:" + std::to_string(port) + "/?token=" + kToken + "\n");
    EXPECT_THAT(run.err, HasSubstr("the view stopped"));
    pending.wait();
}

INSTANTIATE_TEST_SUITE_P(CtrlCOrSigterm, ViewToolStop, ::testing::Values(SIGINT, SIGTERM),
                         [](const auto& info) { return info.param == SIGINT ? "CtrlC" : "Sigterm"; });

TEST(ViewTool, ServesItsPageAndFramesWithItsTokenOnlyAndToItsOwnHostOnly) {
    const int port = freePort();
    ServedView view(port, kToken);
    ASSERT_TRUE(view.up());
    const auto page = view.client().get("/");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_THAT(page->header("Content-Type"), HasSubstr("text/html"));
    const Frame frame = view.client().frameWhere([](const Frame& f) { return f.hitTotal > 0; });
    EXPECT_GT(frame.cells, 0u);

    const auto noToken = view.client().get("/api/state", {}, false);
    ASSERT_TRUE(noToken);
    EXPECT_EQ(noToken->status, 401);
    const auto otherHost =
        view.client().get("/api/state", {{"Host", "evil.example:" + std::to_string(port)}});
    ASSERT_TRUE(otherHost);
    EXPECT_EQ(otherHost->status, 403);

    view.tool().signal(SIGINT);
    EXPECT_EQ(view.tool().wait().status, 0);
}

TEST(ViewTool, RefusesATokenTooShortToGuardItAndAPortTaken) {
    const ToolRun shortToken = runDemo({"view", "--port", "0", "--token", "abc"});
    EXPECT_EQ(shortToken.status, 2);
    EXPECT_THAT(shortToken.err, HasSubstr("--token: a token is 16 to 128 characters long"));

    // A port another program holds.
    boost::asio::io_context io;
    tcp::acceptor holder(io, {boost::asio::ip::address_v4::loopback(), 0});
    const int port = holder.local_endpoint().port();
    const ToolRun taken = runDemo({"view", "--port", std::to_string(port)});
    EXPECT_EQ(taken.status, 1);
    EXPECT_THAT(taken.err, HasSubstr("could not listen on 127.0.0.1 port " + std::to_string(port)));
    EXPECT_TRUE(taken.out.empty());
}

}  // namespace
}  // namespace tarvex::cli::test
