// Two updates at once on two threads: each sees its own update file, strict
// setting, window and wait, however their steps interleave.
#include <gtest/gtest.h>

#include <latch>
#include <thread>

#include "Fakes.h"
#include "TempFile.h"
#include "UpdateFileBuilder.h"
#include "modGlobals.h"
#include "modTimer.h"

namespace kestrel {
namespace {

using testing::FakeProgress;
using testing::FakeWindow;
using testing::SimulatedIO;

// Holds each update at its first question to the instrument until both have
// set their values and begun, so that each later reads its values back while
// the other's are set.
class MeetingIO : public SimulatedIO {
  public:
    MeetingIO(kr470::InstrumentOptions options, std::latch& meeting)
        : SimulatedIO(std::move(options)), meeting_(meeting) {}
    std::string SendQuery(const std::string& query) override {
        if (!met_) {
            met_ = true;
            meeting_.arrive_and_wait();
        }
        return SimulatedIO::SendQuery(query);
    }

  private:
    std::latch& meeting_;
    bool met_ = false;
};

struct OneUpdate {
    std::string path;
    int16_t strict = 0;
    std::vector<std::string> records;
    FakeWindow window;
    FakeProgress progress;
    std::vector<std::string> sent;
    std::vector<int32_t> waits;
    int32_t result = -1;

    void Run(std::latch& meeting) {
        SetWindowServices(&window);
        SetWaitHook([this](int32_t ms) { waits.push_back(ms); });
        StrictChecking = strict;
        MeetingIO io({}, meeting);
        result = UpdateFirmware(path, io, progress, window);
        sent = io.sent;
        SetWindowServices(nullptr);
        SetWaitHook({});
    }
};

std::vector<std::string> Records(const std::vector<std::string>& sent) {
    std::vector<std::string> records;
    for (const std::string& line : sent) {
        if (line.find('"') != std::string::npos)
            records.push_back(line);
    }
    return records;
}

TEST(ParallelUpdateTest, EachThreadKeepsItsOwnFileCheckingWindowAndWait) {
    testsupport::TempDir dir;
    OneUpdate updates[2];
    for (int i = 0; i < 2; ++i) {
        kr470::UpdateFileInput input;
        input.records = kr470::GenerateImage((60 + 40 * i) * 32, 20 + i, "KR470A 1.05");
        input.name = "KR470A Firmware 1.05 #" + std::to_string(i);
        input.revision = "1.05";
        updates[i].path = dir.Write("update" + std::to_string(i) + ".ini", BuildUpdateFile(input));
        updates[i].strict = static_cast<int16_t>(i);
        updates[i].records = input.records;
        updates[i].window.answers = {Answer::kYes};
    }
    StrictChecking = 7;  // this thread's values, which neither update may see or change
    UpdateFilePath = "main thread";
    std::latch meeting(2);
    std::thread first([&] { updates[0].Run(meeting); });
    std::thread second([&] { updates[1].Run(meeting); });
    first.join();
    second.join();

    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        OneUpdate& update = updates[i];
        EXPECT_EQ(update.result, kUpdateCommitted);
        EXPECT_EQ(update.window.lines.front(), "KR470A Firmware 1.05 #" + std::to_string(i));
        std::vector<std::string> records = Records(update.sent);
        ASSERT_EQ(records.size(), update.records.size());
        for (size_t r = 0; r < records.size(); ++r) {
            EXPECT_EQ(records[r], (i == 1 ? "dlo? \"" : "dlo \"") + update.records[r] + "\" ");
        }
        EXPECT_EQ(update.waits, (std::vector<int32_t>{5000, 5000}));
    }
    EXPECT_EQ(StrictChecking, 7);
    EXPECT_EQ(UpdateFilePath, "main thread");
    StrictChecking = 1;
}

}  // namespace
}  // namespace kestrel
