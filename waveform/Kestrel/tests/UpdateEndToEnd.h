// The update procedure through the I/O layer against the simulator program:
// what the end-to-end tests of every bus share.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "Fakes.h"
#include "Process.h"
#include "ScopedEnv.h"
#include "TempFile.h"
#include "UpdateDialogue.h"
#include "UpdateFileBuilder.h"
#include "modGlobals.h"

namespace kestrel {

class UpdateFirmwareEndToEndTest : public ::testing::Test {
  protected:
    UpdateFirmwareEndToEndTest() {
        input_.records = kr470::GenerateImage(120 * 32, 11, "KR470A 1.05");
        input_.name = "KR470A Firmware 1.05";
        input_.revision = "1.05";
        path_ = dir_.Write("KR470A_105.INI", kr470::BuildUpdateFile(input_));
        SetWindowServices(&window_);
        window_.answers = {Answer::kYes};
    }
    ~UpdateFirmwareEndToEndTest() override {
        SetWindowServices(nullptr);
        StrictChecking = 1;
    }

    std::vector<std::string> SimulatorArguments(std::vector<std::string> link) const {
        link.insert(link.begin(), SIMULATOR_PATH);
        link.insert(link.end(), {"--transcript", Transcript()});
        return link;
    }
    std::string Transcript() const { return (dir_.Path() / "transcript.txt").string(); }
    std::vector<std::string> TranscriptLines() const {
        std::ifstream in(Transcript());
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }
    int32_t Update(const std::string& address) {
        std::unique_ptr<InstrumentIO> io = CreateIOFactory()->OpenInstrument(address);
        return UpdateFirmware(path_, *io, progress_, window_);
    }
    // The dialogue of one clean normal update, records sent with `word`.
    std::vector<std::string> ExpectedDialogue(const std::string& word,
                                              const std::string& sum) const {
        return testing::CleanUpdateDialogue(input_, word, sum);
    }
    std::string PassChecksum() const { return testing::PassingChecksum(input_); }

    testsupport::TempDir dir_;
    testsupport::ScopedEnv kioConfig_{"KIO_CONFIG", (dir_.Path() / "kio.ini").string()};
    testsupport::ScopedEnv waitLimit_{"KESTREL_WAIT_LIMIT_MS",
                                      "0"};  // the simulator resets at once
    kr470::UpdateFileInput input_;
    std::string path_;
    testing::FakeWindow window_;
    testing::FakeProgress progress_;
};

}  // namespace kestrel
