// The rows when the system gives fewer threads than asked for, or none: every
// row still runs and is reported, and the shortfall is said.
#include <gtest/gtest.h>

#include <sstream>
#include <system_error>

#include "Fakes.h"
#include "FleetRun.h"
#include "ScopedEnv.h"
#include "TempFile.h"
#include "UpdateFileBuilder.h"

namespace fleet {
namespace {

class SimulatedInstruments : public kestrel::IOFactory {
  public:
    std::unique_ptr<kestrel::InstrumentIO> OpenInstrument(const std::string& address) override {
        if (address == "broken") {
            throw std::runtime_error("no instrument at broken");
        }
        if (address == "odd") {
            throw 42;  // no std::exception: must not end the tool either
        }
        return std::make_unique<kestrel::testing::SimulatedIO>(kr470::InstrumentOptions{});
    }
};

// Gives `allowed` threads, then refuses as a process at its limit would.
ThreadMaker Refusing(size_t allowed) {
    return [allowed, made = size_t{0}](std::function<void()> work) mutable {
        if (made == allowed) {
            throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again),
                                    "thread");
        }
        ++made;
        return std::thread(std::move(work));
    };
}

class FleetThreadsTest : public ::testing::Test {
  protected:
    FleetThreadsTest() {
        kr470::UpdateFileInput input;
        input.records = kr470::GenerateImage(4 * 32, 3, "KR470A 1.05");
        input.name = "KR470A Firmware 1.05";
        input.revision = "1.05";
        update_ = dir_.Write("update.ini", kr470::BuildUpdateFile(input));
        policy_.logFolder = dir_.Path().string();
        policy_.dryRun = true;
    }

    std::vector<JobReport> Run(const std::vector<std::string>& addresses, size_t jobs,
                               const ThreadMaker& maker) {
        std::vector<PlanRow> rows;
        for (const std::string& address : addresses) {
            rows.push_back({address, update_, "", "plan"});
        }
        progress_.str("");
        ProgressBoard board(progress_, ProgressBoard::Mode::kJsonLines, addresses);
        return RunFleet(rows, {}, jobs, {policy_, factory_, stop_, board}, notes_, maker);
    }

    testsupport::TempDir dir_;
    testsupport::ScopedEnv waitLimit_{"KESTREL_WAIT_LIMIT_MS", "0"};
    std::string update_;
    Policy policy_;
    StopSignal stop_;
    SimulatedInstruments factory_;
    std::ostringstream notes_;
    std::ostringstream progress_;
};

TEST_F(FleetThreadsTest, NoThreadAtAllRunsEveryRowOnTheCallingThread) {
    std::vector<JobReport> reports = Run({"a", "b", "c"}, 3, Refusing(0));
    ASSERT_EQ(reports.size(), 3u);
    for (const JobReport& report : reports) {
        EXPECT_EQ(report.outcome, Outcome::kReady) << report.address << ": " << report.message;
    }
    EXPECT_NE(notes_.str().find("0 of 3 update threads could be made"), std::string::npos)
        << notes_.str();
    EXPECT_NE(notes_.str().find("one at a time"), std::string::npos);
}

TEST_F(FleetThreadsTest, FewerThreadsThanAskedShareEveryRow) {
    std::vector<JobReport> reports = Run({"a", "b", "broken", "d", "odd"}, 4, Refusing(2));
    ASSERT_EQ(reports.size(), 5u);
    for (size_t i : {0u, 1u, 3u}) {
        EXPECT_EQ(reports[i].outcome, Outcome::kReady) << i;
    }
    EXPECT_EQ(reports[2].outcome, Outcome::kFailed);
    EXPECT_EQ(reports[2].message, "no instrument at broken");
    EXPECT_EQ(reports[4].outcome, Outcome::kFailed);
    EXPECT_EQ(reports[4].message, "the update ended with an unknown error");
    EXPECT_NE(notes_.str().find("2 of 4 update threads could be made"), std::string::npos)
        << notes_.str();
}

TEST_F(FleetThreadsTest, ThreadsGivenAsAskedSayNothing) {
    std::vector<JobReport> reports = Run({"a", "b"}, 8, MakeThread);
    EXPECT_EQ(reports[0].outcome, Outcome::kReady);
    EXPECT_EQ(reports[1].outcome, Outcome::kReady);
    EXPECT_EQ(notes_.str(), "");
}

// The board's last word on a row is its result, also for a job that threw
// and for a row a stop kept from starting.
TEST_F(FleetThreadsTest, EveryRowEndsOnTheBoardWithItsResult) {
    Run({"a", "odd"}, 1, MakeThread);
    EXPECT_NE(progress_.str().find(R"({"address":"odd","state":"failed")"), std::string::npos)
        << progress_.str();
    stop_.Request();
    Run({"c"}, 1, MakeThread);
    EXPECT_NE(progress_.str().find(R"({"address":"c","state":"stopped")"), std::string::npos)
        << progress_.str();
}

}  // namespace
}  // namespace fleet
