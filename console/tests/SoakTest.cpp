// Hundreds of whole updates in a row against the simulated instrument, each
// with a fault drawn from a fixed seed and scripted answers. Every run must
// end as its fault implies, and no "dlo:comp" may follow a pass that failed.
//   OSPREY_SOAK_RUNS (default 300) and OSPREY_SOAK_SEED (default 470).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <random>

#include "ConsoleCapture.h"
#include "FakePort.h"
#include "Instrument.h"
#include "SerialLink.h"
#include "TempFile.h"
#include "UpdateFileBuilder.h"
#include "UpdateProcedure.h"

namespace osprey {
namespace {

using testing::ConsoleCapture;
using testing::FakePort;

enum class Fault { kNone, kRefusal, kLostRecord, kWrongChecksum, kQueuedError, kSilence, kHangUp };
constexpr std::array<const char*, 5> kQueries = {"*STB?", "dlo:stat?", "dlo:csum?", "SYST:ERR?",
                                                 "*OPC?"};

struct Scenario {
    Fault fault = Fault::kNone;
    kr470::InstrumentOptions options;
    bool strict = false;
    bool repeat = true;  // the answer to every "try again" question
    int refusals = 0;
    std::string Describe() const {
        return "fault " + std::to_string(static_cast<int>(fault)) + " strict " +
               std::to_string(strict) + " repeat " + std::to_string(repeat) + " refusals " +
               std::to_string(refusals);
    }
};

struct Outcome {
    int status = -1;
    bool threw = false;
    std::string output;
    std::vector<std::string> sent;
    bool committed = false;
};

long EnvironmentNumber(const char* name, long fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::strtol(text, nullptr, 10) : fallback;
}

Scenario Draw(std::mt19937& random, int lines) {
    Scenario s;
    auto pick = [&](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    s.fault = static_cast<Fault>(pick(0, 6));
    s.repeat = pick(0, 1) == 1;
    s.strict = pick(0, 1) == 1;
    switch (s.fault) {
        case Fault::kRefusal:
            s.strict = true;
            s.refusals = pick(1, 3);
            s.options.refuseLine[pick(1, lines)] = s.refusals;
            break;
        case Fault::kLostRecord:
            s.options.dropLine[pick(2, lines - 3)] = 1;  // a data record: not S0, S5 or S7
            break;
        case Fault::kWrongChecksum:
            s.options.badChecksumPasses = {1};
            break;
        case Fault::kQueuedError:
            s.options.errorsAfterPass.insert({1, "-350,\"Queue overflow\""});
            break;
        case Fault::kSilence:
            s.options.silentOn = {{kQueries[static_cast<size_t>(pick(0, 4))], 1}};
            break;
        case Fault::kHangUp:
            s.options.hangUpAfterRecords = pick(1, lines - 2);
            break;
        case Fault::kNone:
            break;
    }
    return s;
}

Outcome RunScenario(const Scenario& s, const std::string& path) {
    kr470::Instrument instrument(s.options);
    FakePort::State port;
    port.responder = [&](const std::string& line) -> std::optional<std::string> {
        kr470::Response response = instrument.Handle(line);
        if (response.hangUp)
            port.readFails = true;
        return response.reply;
    };
    SerialLink link(std::make_unique<FakePort>(port));
    link.Open("COM1");
    std::string answers = "y\n";
    for (int i = 0; i < 6; ++i)
        answers += s.repeat ? "y\n" : "n\n";
    ConsoleCapture capture(answers);
    strictChecking = s.strict;
    std::array<char, 256> identification{};
    std::string("Velmora,KR470A,SN470001,1.04-2.10-0.9").copy(identification.data(), 255);
    Outcome outcome;
    try {
        outcome.status = RunUpdate(path.c_str(), identification.data(), link);
    } catch (LinkError) {
        outcome.threw = true;
    }
    strictChecking = false;
    outcome.output = capture.Output();
    outcome.sent = port.lines;
    outcome.committed = instrument.Committed();
    return outcome;
}

// What the fault implies: committed, or the failure it must be reported with.
void ExpectOutcome(const Scenario& s, const Outcome& o) {
    const bool repeatable = s.fault == Fault::kLostRecord || s.fault == Fault::kWrongChecksum ||
                            s.fault == Fault::kQueuedError;
    const bool commits = s.fault == Fault::kNone ||
                         (s.fault == Fault::kRefusal && s.refusals < 3) || (repeatable && s.repeat);
    const size_t completions = std::count_if(o.sent.begin(), o.sent.end(), [](const auto& line) {
        return line.starts_with("dlo:comp");
    });
    if (commits) {
        EXPECT_EQ(o.status, 0);
        EXPECT_TRUE(o.committed);
        EXPECT_EQ(completions, 1u);
        EXPECT_TRUE(o.sent.back().starts_with("dlo:comp"));
        return;
    }
    EXPECT_FALSE(o.committed);
    EXPECT_EQ(completions, 0u);  // never after a failed pass
    switch (s.fault) {
        case Fault::kSilence:
        case Fault::kHangUp:
            EXPECT_TRUE(o.threw);
            break;
        case Fault::kRefusal:
            EXPECT_EQ(o.status, 1);
            EXPECT_NE(o.output.find("Invalid SRecord encountered at line"), std::string::npos);
            break;
        default:
            EXPECT_EQ(o.status, 1);
            EXPECT_NE(o.output.find("Try"), std::string::npos);  // the question was asked
            break;
    }
}

TEST(Soak, EveryFaultEndsAsItMust) {
    const long runs = EnvironmentNumber("OSPREY_SOAK_RUNS", 300);
    const long seed = EnvironmentNumber("OSPREY_SOAK_SEED", 470);
    kr470::UpdateFileInput input;
    input.records = kr470::GenerateImage(40 * 32, 9, "KR470A 1.05");
    input.revision = "1.05";
    testsupport::TempDir dir;
    const std::string path = dir.Write("update.ini", kr470::BuildUpdateFile(input));
    std::mt19937 random(static_cast<uint32_t>(seed));
    std::array<int, 7> seen{};
    for (long run = 0; run < runs && !HasFailure(); ++run) {
        Scenario scenario = Draw(random, static_cast<int>(input.records.size()));
        ++seen[static_cast<size_t>(scenario.fault)];
        SCOPED_TRACE("run " + std::to_string(run) + ": " + scenario.Describe());
        Outcome outcome = RunScenario(scenario, path);
        ExpectOutcome(scenario, outcome);
        if (HasFailure())
            std::fprintf(stderr, "%s\n", outcome.output.c_str());
    }
    for (int count : seen)
        EXPECT_GT(count, 0) << "every kind of fault is drawn";
}

}  // namespace
}  // namespace osprey
