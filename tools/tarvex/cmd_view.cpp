// tarvex view: the live eye in a browser, served by the tool itself.
#include <chrono>
#include <thread>

#include <fmt/format.h>

#include "errors.h"
#include "progress.h"
#include "tool.h"
#include "values.h"
#include "view_acquisition.h"
#include "view_server.h"
#include "view_settings.h"

namespace tarvex::cli {

namespace {

struct ViewArgs {
    double dataRate = 0;
    double sampleRate = 0;
    unsigned packets = 256;
    unsigned xScale = 0;
    unsigned port = kDefaultViewPort;
    std::string listen = "127.0.0.1";
    std::string token;
    std::vector<std::string> allowedHosts;
};

void view(Tool& tool, const ViewArgs& args) {
    double dataRate = args.dataRate;
    double sampleRate = args.sampleRate;
    takeSignalRates(tool.options(), dataRate, sampleRate);
    ViewServerOptions options;
    options.listen = args.listen;
    options.port = static_cast<int>(args.port);
    options.token = args.token.empty() ? makeViewToken() : args.token;
    options.allowedHosts = args.allowedHosts;
    if (auto problem = tokenProblem(options.token); !problem.empty())
        throw UsageError("--token: " + problem);

    ViewSettings settings;
    settings.board = tool.options().index;
    settings.dataRate = dataRate;
    settings.sampleRate = sampleRate;
    settings.packets = args.packets;
    settings.xScale = args.xScale;

    FrameHub hub;
    Acquisition acquisition(settings, hub);
    ViewServer server(options, acquisition, hub);
    server.bind();
    stopOnTerminate();
    acquisition.start();
    server.start();

    tool.out().result({{"url", server.url()}, {"listen", options.listen}, {"port", server.port()}},
                      [&] { Output::line(server.url()); });
    std::fflush(results());
    note("the live eye is served at the address above: open it in a browser; Ctrl-C stops");

    while (!interrupted()) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    server.stop();
    acquisition.stop();
    note("the view stopped");
}

}  // namespace

void addViewCommand(Tool& tool) {
    auto args = std::make_shared<ViewArgs>();
    auto* command = tool.app().add_subcommand(
        "view", "Serve the live eye to a browser: the density eye, measurements and mask test");
    command
        ->add_option("--data-rate", args->dataRate,
                     "Data rate of the signal, bits/s (with --demo: the demo board's)")
        ->type_name("RATE")
        ->transform(rateWithUnit())
        ->check(positive());
    command
        ->add_option("--sample-rate", args->sampleRate,
                     "Equivalent-time sample rate, samples/s (with --demo: the demo board's)")
        ->type_name("RATE")
        ->transform(rateWithUnit())
        ->check(positive());
    command->add_option("-n,--packets", args->packets, "Packets per frame, 32 samples each")
        ->check(range(1, ViewLimits::kMaxPackets))
        ->capture_default_str();
    command
        ->add_option("--x-scale", args->xScale,
                     "Width of the X axis: 0 the sample range, 1..10 a multiple of it, more: "
                     "that width")
        ->check(wordRange())
        ->capture_default_str();
    command->add_option("--port", args->port, "Port to listen on (0: any free port)")
        ->check(range(0, 65535))
        ->capture_default_str();
    command
        ->add_option("--listen", args->listen,
                     "Address to listen on: 0.0.0.0 lets other machines in (with the token)")
        ->type_name("ADDR")
        ->capture_default_str();
    command
        ->add_option("--token", args->token,
                     "The token every request must carry (default: a random one, in the URL)")
        ->type_name("TEXT");
    command
        ->add_option("--allow-host", args->allowedHosts,
                     "A host name the page may be opened by, besides IP addresses and localhost")
        ->type_name("NAME");
    tool.on(command, [args](Tool& t) { view(t, *args); });
}

}  // namespace tarvex::cli
