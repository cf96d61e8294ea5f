// tarvex capture and tarvex eye: scope captures to CSV or raw fast packets, and the eye diagram.
#include <algorithm>
#include <optional>
#include <vector>

#include <fmt/format.h>

#include "commands/capture.h"
#include "commands/eye_fold.h"
#include "commands/packet.h"
#include "console.h"
#include "errors.h"
#include "eye_analysis.h"
#include "eye_plot.h"
#include "progress.h"
#include "session.h"
#include "tarvex.h"
#include "tarvex_analysis.h"
#include "tool.h"
#include "values.h"

namespace tarvex::cli {

namespace {

Json statsRecord(const ScopeStats& stats, std::uint32_t packets) {
    return {{"packets", packets},         {"sampleCount", stats.sampleCount},
            {"okCount", stats.okCount},   {"shortCount", stats.shortCount},
            {"failCount", stats.failCount}, {"flagSeen", stats.flagSeen == 1}};
}

// A capture whose every packet failed gives nothing worth keeping.
void requireSomePackets(std::uint16_t index, const ScopeStats& stats, std::uint32_t packets,
                        std::uint32_t lastErrorCode) {
    if (packets == 0 || stats.okCount + stats.shortCount > 0) return;
    throw ToolError(exchangeFailure(index, XFER_FAIL, lastErrorCode,
                                    {"scope packet requests", commands::kTimeoutMs, SCOPE_PACKET_BYTES}));
}

// Some packets failed or came back short: the data is written, but it is not all the board's.
void reportIncomplete(std::uint16_t index, const ScopeStats& stats, std::uint32_t packets,
                      const std::string& where) {
    if (stats.failCount == 0 && stats.shortCount == 0) return;
    std::string what;
    if (stats.failCount > 0 && stats.shortCount > 0)
        what = fmt::format("{} of the {} packets failed and {} came back short", stats.failCount,
                           packets, stats.shortCount);
    else if (stats.failCount > 0)
        what = fmt::format("{} of the {} packets failed", stats.failCount, packets);
    else
        what = fmt::format("{} of the {} packets came back short", stats.shortCount, packets);
    throw ToolError(fmt::format("board {}: {}, so some samples in {} are not the board's; check "
                                "the connection and capture again",
                                index, what, where));
}

[[noreturn]] void stopped(std::uint32_t done, std::uint32_t packets) {
    throw ToolError(fmt::format("interrupted after {} of {} packets; nothing was written", done,
                                packets),
                    kExitInterrupted);
}

// ---- capture ------------------------------------------------------------------------------------

struct CaptureArgs {
    unsigned packets = 100;
    std::string output = "-";
    bool fast = false;
};

void capture(Tool& tool, const CaptureArgs& args) {
    const bool toStdout = args.output == "-";
    if (tool.out().json() && toStdout)
        throw UsageError("with --json the samples need a file of their own: -o FILE");
    if (args.fast && toStdout && isTerminal(results()))
        throw UsageError("--fast writes raw bytes: give them a file with -o FILE");

    BoardSession board(tool.options().index);
    OutputFile file(args.output, args.fast);
    ScopeStats stats{};
    std::uint32_t done = 0;
    Progress progress("capture", args.packets, "packets");
    const auto goOn = [&](std::uint32_t packetsDone, std::uint32_t) {
        done = packetsDone;
        return progress.update(packetsDone);
    };

    clearLastError();
    const auto packets = static_cast<std::uint16_t>(args.packets);
    std::vector<std::uint16_t> samples;
    std::vector<std::uint8_t> raw;
    if (args.fast) {
        raw.assign(static_cast<std::size_t>(packets) * FAST_SLOT_BYTES, 0);
        commands::captureSamplesFast(board.index(), packets, raw.data(), &stats, goOn);
    } else {
        samples.assign(static_cast<std::size_t>(packets) * SAMPLES_PER_PACKET, 0);
        commands::captureSamples(board.index(), packets, samples.data(), &stats, goOn);
    }
    const auto code = lastError();
    progress.finish();
    if (interrupted()) stopped(done, args.packets);
    requireSomePackets(board.index(), stats, args.packets, code);

    if (args.fast) {
        std::fwrite(raw.data(), 1, raw.size(), file.get());
    } else {
        fmt::print(file.get(), "sample,value\n");
        for (std::size_t i = 0; i < stats.sampleCount; ++i)
            fmt::print(file.get(), "{},{}\n", i, samples[i]);
    }
    file.keep();

    Json record = statsRecord(stats, args.packets);
    record["index"] = board.index();
    record["output"] = args.output;
    record["format"] = args.fast ? "raw" : "csv";
    tool.out().result(record, {});
    reportIncomplete(board.index(), stats, args.packets, toStdout ? "the output" : args.output);
}

// ---- eye ---------------------------------------------------------------------------------------

// A sample rate that is (nearly) a whole fraction of the data rate puts every sample on the same
// few spots of the bit: the picture is a few vertical lines, not an eye.
void warnIfFewPositions(const std::vector<std::uint16_t>& eyeX, std::uint32_t count,
                        double sampleRate, double dataRate) {
    constexpr std::size_t kFewPositions = 8;
    std::vector<std::uint16_t> positions(eyeX.begin(), eyeX.begin() + count);
    std::sort(positions.begin(), positions.end());
    const auto distinct = static_cast<std::size_t>(
        std::unique(positions.begin(), positions.end()) - positions.begin());
    if (count < kFewPositions || distinct >= kFewPositions) return;
    note(fmt::format("warning: sampled at {}, the {} signal is seen at only {} point{} of the "
                     "bit; choose a sample rate that walks the samples across the bit",
                     formatRate(sampleRate, "S/s"), formatRate(dataRate, "b/s"), distinct,
                     distinct == 1 ? "" : "s"));
}

struct EyeArgs {
    double dataRate = 0;
    double sampleRate = 0;
    unsigned packets = 2000;
    unsigned xScale = 0;
    std::string output;
    std::string csv;
    unsigned width = 1000;
    unsigned height = 640;
    bool measure = false;
    std::string mask;
    double voltsPerCode = 0;
};

// The measurements, which also place the crossing for the picture and the mask.
TvaEyeMeasurements measureEye(const std::vector<std::uint16_t>& eyeX,
                              const std::vector<std::uint16_t>& eyeY, std::uint32_t count,
                              std::uint16_t width, double dataRate) {
    TvaEyeMeasurements measured{};
    const int32_t status = count == 0 ? kTvaNoSamples
                                      : tvaMeasurePoints(eyeX.data(), eyeY.data(), count, width,
                                                         dataRate, &measured);
    if (status != kTvaOk)
        throw ToolError(fmt::format("the eye could not be measured: {}", tvaStatusText(status)));
    return measured;
}

// Why the eye has no frame for a mask: the reason its levels were not measured.
std::string whyNoFrame(const TvaEyeMeasurements& measured) {
    const TvaMeasurement& level = measured.items[kTvaOneLevel];
    if (!level.measurable) return tvaStatusText(level.reason);
    return tvaStatusText(measured.items[kTvaCrossingLevel].reason);
}

void eye(Tool& tool, const EyeArgs& args) {
    if (args.output.empty() && args.csv.empty() && !args.measure && args.mask.empty())
        throw UsageError("say what to do with the eye: -o FILE.png or FILE.svg, --csv FILE, "
                         "--measure or --mask MASK");
    std::optional<MaskChoice> mask;
    if (!args.mask.empty()) mask = readMask(args.mask);
    double dataRate = args.dataRate;
    double sampleRate = args.sampleRate;
    takeSignalRates(tool.options(), dataRate, sampleRate);
    const auto foldStep = commands::eyeFoldStep(dataRate, sampleRate);
    if (!foldStep) throw UsageError(foldProblem(dataRate, sampleRate));
    std::optional<PictureFormat> format;
    if (!args.output.empty()) format = pictureFormatOf(args.output);

    BoardSession board(tool.options().index);
    std::optional<OutputFile> picture;
    std::optional<OutputFile> points;
    if (format) picture.emplace(args.output, true);
    if (!args.csv.empty()) points.emplace(args.csv, false);

    ScopeStats stats{};
    std::uint32_t done = 0;
    const auto packets = static_cast<std::uint16_t>(args.packets);
    // Sized after construction: GCC 12 at -O3 takes the sized constructors' clean-up for a
    // delete at an offset (-Wfree-nonheap-object) once eye() calls takeSignalRates.
    std::vector<std::uint16_t> eyeY;
    std::vector<std::uint16_t> eyeX;
    eyeY.resize(static_cast<std::size_t>(packets) * SAMPLES_PER_PACKET);
    eyeX.resize(eyeY.size());
    {
        Progress progress("eye capture", args.packets, "packets");
        clearLastError();
        commands::captureSamples(board.index(), packets, eyeY.data(), &stats,
                                 [&](std::uint32_t packetsDone, std::uint32_t) {
                                     done = packetsDone;
                                     return progress.update(packetsDone);
                                 });
        const auto code = lastError();
        progress.finish();
        if (interrupted()) stopped(done, args.packets);
        requireSomePackets(board.index(), stats, args.packets, code);
    }
    const auto range = commands::foldEye(eyeY.data(), eyeX.data(), stats.sampleCount, dataRate,
                                         sampleRate, static_cast<std::uint16_t>(args.xScale));

    warnIfFewPositions(eyeX, stats.sampleCount, sampleRate, dataRate);

    if (points) {
        fmt::print(points->get(), "sample,x,y\n");
        for (std::size_t i = 0; i < stats.sampleCount; ++i)
            fmt::print(points->get(), "{},{},{}\n", i, eyeX[i], eyeY[i]);
        points->keep();
    }
    // Measured whenever anything is to be said about the eye or drawn: the picture places its
    // crossings where the measurements found them.
    // A capture of one code throughout (a board that sends nothing) has no eye to measure: the
    // picture shows it as it is.
    if ((args.measure || mask) && range.width == 0)
        throw ToolError(fmt::format("every sample of the capture is {}: there is no eye to "
                                    "measure; check the signal at the board's input",
                                    range.maximum));
    TvaEyeMeasurements measured{};
    if ((picture || args.measure || mask) && range.width > 0)
        measured = measureEye(eyeX, eyeY, stats.sampleCount, range.width, dataRate);
    const bool frameValid = measured.frameValid == 1;

    TvaMaskResult maskResult{};
    std::vector<std::uint8_t> inside;
    if (mask) {
        if (!frameValid)
            throw ToolError(fmt::format("the eye's levels and crossing were not found ({}), so "
                                        "there is nothing to place the mask in",
                                        whyNoFrame(measured)));
        inside.assign(stats.sampleCount, 0);
        const int32_t status = tvaMaskTest(eyeX.data(), eyeY.data(), stats.sampleCount,
                                           range.width, &measured.frame, &mask->mask,
                                           &maskResult, inside.data());
        if (status != kTvaOk)
            throw ToolError(fmt::format("the mask test failed to run: {}", tvaStatusText(status)));
    }

    if (picture) {
        EyeData data;
        data.x = {eyeX.data(), stats.sampleCount};
        data.y = {eyeY.data(), stats.sampleCount};
        data.width = range.width;
        data.minimum = range.minimum;
        data.maximum = range.maximum;
        data.dataRate = dataRate;
        data.sampleRate = sampleRate;
        data.foldStep = *foldStep;
        data.packets = args.packets;
        data.stats = stats;
        data.frame = measured.frame;
        data.frameValid = frameValid;
        if (mask) {
            data.mask = &*mask;
            data.maskResult = &maskResult;
            data.maskFlags = inside;
        }
        picture->close();
        drawEye(data, args.output, *format,
                {static_cast<int>(args.width), static_cast<int>(args.height)});
        picture->keep();
    }

    const CodeScale scale{args.voltsPerCode};
    Json record = statsRecord(stats, args.packets);
    record["index"] = board.index();
    record["dataRate"] = dataRate;
    record["sampleRate"] = sampleRate;
    record["foldStep"] = *foldStep;
    record["eyeWidth"] = range.width;
    record["minimum"] = range.minimum;
    record["maximum"] = range.maximum;
    if (picture) {
        record["output"] = args.output;
        record["format"] = *format == PictureFormat::kPng ? "png" : "svg";
        record["width"] = args.width;
        record["height"] = args.height;
    }
    if (points) record["csv"] = args.csv;
    if (args.measure) {
        if (scale.voltsPerCode > 0) record["voltsPerCode"] = scale.voltsPerCode;
        record["unitInterval"] = 1.0 / dataRate;
        record["measurements"] = measurementsJson(measured, scale);
    }
    if ((args.measure || mask) && frameValid)
        record["frame"] = {{"crossingPhase", measured.frame.crossingPhase},
                           {"zeroLevel", measured.frame.zeroLevel},
                           {"oneLevel", measured.frame.oneLevel}};
    if (mask) record["mask"] = maskJson(*mask, maskResult);
    tool.out().result(record, [&] {
        if (args.measure) printMeasurements(measured, scale);
        if (mask) Output::line(maskSummary(*mask, maskResult));
    });
    reportIncomplete(board.index(), stats, args.packets,
                     !args.output.empty() ? args.output : !args.csv.empty() ? args.csv : "the eye");
    if (mask && !maskResult.passed)
        throw ToolError(fmt::format("the eye fails the mask {}: {} of {} samples inside it",
                                    mask->spec, maskResult.failedSamples,
                                    maskResult.testedSamples),
                        kExitMaskFailed);
}

}  // namespace

void addCaptureCommands(Tool& tool) {
    auto& app = tool.app();

    auto capArgs = std::make_shared<CaptureArgs>();
    auto* cap = app.add_subcommand(
        "capture", "Capture scope samples to CSV (sample,value), or raw fast packets with --fast");
    cap->add_option("-n,--packets", capArgs->packets,
                    "Packets to read: 32 samples each (256 sample words with --fast)")
        ->check(range(1, 65535))
        ->capture_default_str();
    cap->add_option("-o,--output", capArgs->output, "File to write, - for standard output")
        ->type_name("FILE")
        ->capture_default_str();
    cap->add_flag("--fast", capArgs->fast,
                  "Read fast packets and write them raw, 512 bytes a packet");
    tool.on(cap, [capArgs](Tool& t) { capture(t, *capArgs); });

    auto eyeArgs = std::make_shared<EyeArgs>();
    auto* eyeCommand = app.add_subcommand(
        "eye", "Capture, fold onto one bit period and draw the eye diagram (PNG or SVG)");
    eyeCommand
        ->add_option("--data-rate", eyeArgs->dataRate,
                     "Data rate of the signal, bits/s (with --demo: the demo board's)")
        ->type_name("RATE")
        ->transform(rateWithUnit())
        ->check(positive());
    eyeCommand
        ->add_option("--sample-rate", eyeArgs->sampleRate,
                     "Equivalent-time sample rate, samples/s (with --demo: the demo board's)")
        ->type_name("RATE")
        ->transform(rateWithUnit())
        ->check(positive());
    eyeCommand->add_option("-n,--packets", eyeArgs->packets, "Packets to capture, 32 samples each")
        ->check(range(1, 65535))
        ->capture_default_str();
    eyeCommand
        ->add_option("--x-scale", eyeArgs->xScale,
                     "Width of the X axis: 0 the sample range, 1..10 a multiple of it, more: "
                     "that width")
        ->check(wordRange())
        ->capture_default_str();
    eyeCommand->add_option("-o,--output", eyeArgs->output, "The picture: FILE.png or FILE.svg")
        ->type_name("FILE");
    eyeCommand->add_option("--csv", eyeArgs->csv, "Also write the points (sample,x,y) to FILE")
        ->type_name("FILE");
    eyeCommand->add_option("--width", eyeArgs->width, "Picture width in pixels")
        ->check(range(400, 8000))
        ->capture_default_str();
    eyeCommand->add_option("--height", eyeArgs->height, "Picture height in pixels")
        ->check(range(300, 8000))
        ->capture_default_str();
    eyeCommand->add_flag("--measure", eyeArgs->measure,
                         "Measure the eye: levels, noise, height, Q, crossing, jitter, width, "
                         "rise and fall times, duty-cycle distortion (a table, or with --json "
                         "every value in SI units)");
    eyeCommand
        ->add_option("--mask", eyeArgs->mask,
                     "Test the eye against a mask: hexagon:X1,X2,Y1,Y2 or a mask file (JSON); "
                     "the picture shows it, exit status 3 when samples fall inside it")
        ->type_name("MASK");
    eyeCommand
        ->add_option("--volts-per-code", eyeArgs->voltsPerCode,
                     "Show levels in mV (volts in JSON): the volts one sample code stands for")
        ->type_name("V")
        ->check(positive());
    tool.on(eyeCommand, [eyeArgs](Tool& t) { eye(t, *eyeArgs); });
}

}  // namespace tarvex::cli
