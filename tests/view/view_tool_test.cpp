// The built tool's `view`: it prints its address, serves until Ctrl-C (or SIGTERM), then ends
// its requests, closes the board and exits with status 0.
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

TEST(ViewTool, StopsCleanlyOnCtrlCOrSigtermWhileAPageWaitsForAFrame) {
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal == SIGINT ? "SIGINT" : "SIGTERM");
        const int port = freePort();
        const std::string token = "tool-test-token-0123456789";
        ToolProcess tool({"--demo", "--demo-virtual-clock", "view", "--port", std::to_string(port),
                          "--token", token},
                         {});
        ViewClient client(port, token);
        // Served once it answers.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        bool up = false;
        while (!up && std::chrono::steady_clock::now() < deadline) {
            const auto result = client.get("/api/state");
            up = result && result->status == 200;
            if (!up) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ASSERT_TRUE(up);
        // A page's request for a frame that will never come: the stop must not wait on it.
        ViewClient waiting(port, token);
        auto pending = std::async(std::launch::async,
                                  [&] { return waiting.get("/api/frame?after=999999999"); });
        std::this_thread::sleep_for(std::chrono::milliseconds(100));

        const auto stopAt = std::chrono::steady_clock::now();
        tool.signal(signal);
        const ToolRun run = tool.wait();
        EXPECT_LT(std::chrono::steady_clock::now() - stopAt, std::chrono::seconds(3));
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, "http://127.0.0.1:" + std::to_string(port) + "/?token=" + token + "\n");
        EXPECT_THAT(run.err, HasSubstr("the view stopped"));
        pending.wait();
    }
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
