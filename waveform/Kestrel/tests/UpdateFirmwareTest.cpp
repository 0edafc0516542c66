// The update procedure against the simulated instrument, with scripted boxes.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <utility>

#include "CommaLocale.h"
#include "Fakes.h"
#include "ObjcopyImage.h"
#include "TempFile.h"
#include "UpdateFileBuilder.h"
#include "modGlobals.h"
#include "modTimer.h"

namespace kestrel {
namespace {

using testing::FakeProgress;
using testing::FakeWindow;
using testing::SimulatedIO;

bool IsRecordCommand(const std::string& line) {
    return line.rfind("dlo \"", 0) == 0 || line.rfind("dlo? \"", 0) == 0;
}

class UpdateFirmwareTest : public ::testing::Test {
  protected:
    UpdateFirmwareTest() {
        input_.records = kr470::GenerateImage(250 * 32, 5, "KR470A 1.05");
        input_.name = "KR470A Firmware 1.05";
        input_.revision = "1.05";
        SetWindowServices(&window_);
        SetWaitHook([this](int32_t ms) { waits_.push_back(ms); });
        StrictChecking = 0;
    }
    ~UpdateFirmwareTest() override {
        SetWindowServices(nullptr);
        SetWaitHook({});
        StrictChecking = 1;
    }

    int32_t Run(const std::string& kind = "TCPIP") {
        std::string path =
            dir_.Write("update.ini", text_.empty() ? BuildUpdateFile(input_) : text_);
        io_ = std::make_unique<SimulatedIO>(options_, kind);
        io_->replies = replies_;
        return UpdateFirmware(path, *io_, progress_, window_);
    }
    // Every line sent but the records.
    std::vector<std::string> Commands() const {
        std::vector<std::string> commands;
        std::copy_if(io_->sent.begin(), io_->sent.end(), std::back_inserter(commands),
                     [](const std::string& line) { return !IsRecordCommand(line); });
        return commands;
    }
    std::vector<std::string> BoxTexts() const {
        std::vector<std::string> texts;
        for (const testing::Box& box : window_.boxes)
            texts.push_back(box.text);
        return texts;
    }
    bool SentAnyDownloadCommand() const {
        return std::any_of(io_->sent.begin(), io_->sent.end(),
                           [](const std::string& line) { return line.rfind("dlo", 0) == 0; });
    }
    void Answer(std::initializer_list<kestrel::Answer> answers) {
        window_.answers.assign(answers.begin(), answers.end());
    }
    // The identification with another model and revision field.
    void Identify(const std::string& model, const std::string& revisions) {
        options_.identification = "Velmora," + model + ",SN470001," + revisions;
    }

    kr470::UpdateFileInput input_;
    std::string text_;
    kr470::InstrumentOptions options_;
    std::map<std::string, std::deque<std::string>> replies_;
    std::unique_ptr<SimulatedIO> io_;
    FakeWindow window_;
    FakeProgress progress_;
    std::vector<int32_t> waits_;
    testsupport::TempDir dir_;
};

const std::string kConfirmation =
    "Instrument Version 1.04\r\nUpdate Version 1.05\r\n\r\n\r\n"
    "Do you want to continue with update? (Y/N)";

TEST_F(UpdateFirmwareTest, NormalUpdateSpeaksTheWholeDialogueAndCommits) {
    // S0, 250 data records and S7: 252 lines; no S5 this time.
    std::erase_if(input_.records, [](const std::string& r) { return r.rfind("S5", 0) == 0; });
    Answer({Answer::kYes});
    ASSERT_EQ(Run(), kUpdateCommitted);

    const std::string sum = std::to_string(io_->instrument.PassChecksum());
    EXPECT_EQ(Commands(), (std::vector<std::string>{
                              "*IDN?", "*OPC?", "SYSTem:ERRor?", "*CLS", "dlo:csum?",
                              "dlo:start 0012345", "*OPC?", "dlo:stat?", "*OPC?", "SYST:ERR?",
                              "dlo:csum?", "dlo:stat?", "dlo:comp " + sum, "*OPC?", "*IDN?"}));
    EXPECT_EQ(io_->sent.size() - Commands().size(), 252u);
    EXPECT_EQ(io_->sent[8], "dlo \"" + input_.records[0] + "\" ");
    EXPECT_TRUE(io_->instrument.Committed());
    EXPECT_EQ(io_->timeoutMs, 12000);
    EXPECT_EQ(waits_, (std::vector<int32_t>{5000, 5000}));
    EXPECT_EQ(progress_.minimum, 0);
    EXPECT_EQ(progress_.maximum, 250);
    EXPECT_EQ(progress_.positions, (std::vector<int>{0, 100, 200, 252}));
    EXPECT_EQ(progress_.value, progress_.maximum);  // the bar ends full

    EXPECT_EQ(window_.lines, testing::CleanUpdateLines("KR470A Firmware 1.05"));
    ASSERT_EQ(window_.boxes.size(), 2u);
    EXPECT_EQ(window_.boxes[0].text, kConfirmation);
    EXPECT_EQ(window_.boxes[0].buttons, Buttons::kYesNo);
    EXPECT_EQ(window_.boxes[1].text,
              "Firmware update completed successfully\r\n" + io_->instrument.Identification());
    EXPECT_EQ(window_.boxes[1].buttons, Buttons::kOk);
    EXPECT_EQ(window_.boxes[1].icon, Icon::kNone);
    EXPECT_EQ(window_.boxes[1].title, "Firmware Update");
}

TEST_F(UpdateFirmwareTest, LoaderIsRecognisedIgnoringCaseAndAsksNothing) {
    for (const char* model : {"LOADER", "Loader", "loader-boot"}) {
        Identify(model, "0.10-0-0");
        window_ = FakeWindow();
        ASSERT_EQ(Run(), kUpdateCommitted) << model;
        EXPECT_EQ(window_.boxes.size(), 1u) << model;  // the success box only
        EXPECT_EQ(window_.lines[1], "Loader firmware running ...");
    }
    // A loader reporting a higher revision still gets no warning.
    Identify("loader", "9.99-0-0");
    window_ = FakeWindow();
    EXPECT_EQ(Run(), kUpdateCommitted);
    EXPECT_EQ(window_.boxes.size(), 1u);
}

TEST_F(UpdateFirmwareTest, EqualRevisionWarnsThenConfirmsAndNoToEitherStopsBeforeTheDownload) {
    Identify("KR470A", "1.05-2.10-0.9");
    Answer({Answer::kYes, Answer::kYes});
    ASSERT_EQ(Run(), kUpdateCommitted);
    ASSERT_EQ(window_.boxes.size(), 3u);
    EXPECT_EQ(window_.boxes[0].text,
              "Instrument version greater than or equal to update version!\r\n"
              "Instrument Version 1.05\r\nUpdate Version 1.05\r\n\r\n\r\n"
              "Continue with update? (Y/N)");
    EXPECT_EQ(window_.boxes[0].title, "Firmware Update - Version WARNING");
    EXPECT_EQ(window_.boxes[0].buttons, Buttons::kYesNo);

    window_ = FakeWindow();
    Answer({Answer::kNo});
    EXPECT_EQ(Run(), kUpdateFailed);
    EXPECT_EQ(Commands(), std::vector<std::string>{"*IDN?"});  // not even the file check's lines

    Identify("KR470A", "1.04-2.10-0.9");
    window_ = FakeWindow();
    Answer({Answer::kNo});
    EXPECT_EQ(Run(), kUpdateFailed);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{kConfirmation});
    EXPECT_EQ(Commands().back(), "dlo:csum?");
    EXPECT_FALSE(io_->instrument.InDownloadMode());
}

TEST_F(UpdateFirmwareTest, ACommaDecimalLocaleStillReads105AsNewerThan104) {
    for (const std::string& name : testsupport::kCommaLocales) {
        testsupport::CommaLocale locale(name);
        ASSERT_TRUE(locale.Active()) << name << " is missing: run scripts/setup.sh";
        window_ = FakeWindow();
        Answer({Answer::kYes});
        EXPECT_EQ(Run(), kUpdateCommitted) << name;
        EXPECT_EQ(BoxTexts().front(), kConfirmation) << name;
    }
}

TEST_F(UpdateFirmwareTest, AnotherModelOrAnUpdateWithoutModelIsRefused) {
    Identify("KR480B", "1.04-0-0");
    EXPECT_EQ(Run(), kUpdateFailed);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{
                              "This firmware update is not intended for this instrument.\r\n"
                              " - Update for KR470A\r\n - Current instrument is KR480B"});
    EXPECT_EQ(window_.boxes[0].buttons, Buttons::kOk);
    EXPECT_EQ(window_.boxes[0].icon, Icon::kNone);
    EXPECT_EQ(Commands(), std::vector<std::string>{"*IDN?"});

    Identify("KR470A", "1.04-0-0");
    text_ = kr470::BuildUpdateFile(input_);
    text_.erase(text_.find("IDN=KR470A\r\n"), 12);
    window_ = FakeWindow();
    EXPECT_EQ(Run(), kUpdateFailed);
    EXPECT_EQ(window_.boxes[0].text.find("This firmware update is not intended"), 0u);
}

TEST_F(UpdateFirmwareTest, SerialConnectionStartsRemoteAndNeverChecksStrictly) {
    StrictChecking = 1;
    Answer({Answer::kYes});
    ASSERT_EQ(Run("ASRL"), kUpdateCommitted);
    EXPECT_EQ(io_->sent.front(), "SYST:REM");
    EXPECT_EQ(StrictChecking, 0);
    EXPECT_EQ(std::count_if(io_->sent.begin(), io_->sent.end(),
                            [](const std::string& l) { return l.rfind("dlo \"", 0) == 0; }),
              static_cast<long>(input_.records.size()));
}

TEST_F(UpdateFirmwareTest, StrictRecordsAreQueriedAndTheThirdRefusalFails) {
    StrictChecking = 1;
    options_.refuseLine = {{1, 2}};  // refused twice, taken the third time
    Answer({Answer::kYes});
    ASSERT_EQ(Run(), kUpdateCommitted);
    const std::string first = "dlo? \"" + input_.records[0] + "\" ";
    EXPECT_EQ(std::count(io_->sent.begin(), io_->sent.end(), first), 3);

    options_.refuseLine = {{1, 3}};
    window_ = FakeWindow();
    Answer({Answer::kYes});
    EXPECT_EQ(Run(), kUpdateFailed);
    ASSERT_EQ(window_.boxes.size(), 2u);
    EXPECT_EQ(window_.boxes[1].text, "Record 0 Failes to load\r\nUpdate file may be corrupt!");
    EXPECT_EQ(window_.boxes[1].icon, Icon::kCritical);
    EXPECT_EQ(io_->sent.back(), first);  // nothing after the refusal, not even the error queue
}

TEST_F(UpdateFirmwareTest, TheBarHasARangeWithoutRecordsAndShowsWhereAPassStopped) {
    // Only the header and the end record: "Number of Srecs=0".
    std::erase_if(input_.records, [](const std::string& r) {
        return r.rfind("S0", 0) != 0 && r.rfind("S7", 0) != 0;
    });
    Answer({Answer::kYes});
    ASSERT_EQ(Run(), kUpdateCommitted);
    EXPECT_EQ(progress_.maximum, 1);  // 0 would make the bar a busy animation
    EXPECT_EQ(progress_.positions, (std::vector<int>{0, 2}));

    // Refused at the 150th line: the bar shows the 149 lines that went.
    input_.records = kr470::GenerateImage(250 * 32, 5, "KR470A 1.05");
    StrictChecking = 1;
    options_.refuseLine = {{150, 3}};
    window_ = FakeWindow();
    progress_ = FakeProgress();
    Answer({Answer::kYes});
    EXPECT_EQ(Run(), kUpdateFailed);
    EXPECT_EQ(window_.boxes.back().text,
              "Record 149 Failes to load\r\nUpdate file may be corrupt!");
    EXPECT_EQ(progress_.positions, (std::vector<int>{0, 100, 149}));
}

TEST_F(UpdateFirmwareTest, ErrorReplyMustBeginWithPlusZeroAsText) {
    replies_["SYST:ERR?"] = {"+0, no error at all"};
    Answer({Answer::kYes});
    EXPECT_EQ(Run(), kUpdateCommitted);

    for (const char* reply : {"-221,\"Settings conflict\"", "0,\"No error\"", ""}) {
        replies_["SYST:ERR?"] = {reply};
        window_ = FakeWindow();
        Answer({Answer::kYes, Answer::kNo});
        EXPECT_EQ(Run(), kUpdateFailed) << reply;
        EXPECT_EQ(BoxTexts(),
                  (std::vector<std::string>{kConfirmation,
                                            "Error occurred during upload.  Try again? (Y/N)"}))
            << reply;
        EXPECT_EQ(window_.lines.back(), reply);
        EXPECT_EQ(Commands().back(), "SYST:ERR?");
    }
}

TEST_F(UpdateFirmwareTest, OnePassAsksAllThreeQuestionsBeforeTheNextPass) {
    options_.errorsAfterPass = {{1, "-300,\"Device error\""}};
    options_.badChecksumPasses = {1};
    options_.dropLine = {{5, 1}};
    Answer({Answer::kYes, Answer::kYes, Answer::kYes, Answer::kYes});
    ASSERT_EQ(Run(), kUpdateCommitted);
    ASSERT_EQ(window_.boxes.size(), 5u);
    EXPECT_EQ(window_.boxes[1].text, "Error occurred during upload.  Try again? (Y/N)");
    EXPECT_EQ(window_.boxes[2].text.find("File CheckSum = "), 0u);
    EXPECT_NE(window_.boxes[2].text.find("\r\n\r\nCheck Sum does not match entry in INI file!  "
                                         "Try download again? (Y/N)"),
              std::string::npos);
    EXPECT_EQ(window_.boxes[3].text,
              "Records received does not equal records expected!\r\nTry download again? (Y/N)");
    EXPECT_EQ(io_->instrument.Passes(), 2);
    EXPECT_EQ(std::count(io_->sent.begin(), io_->sent.end(), "dlo:start 0012345"), 1);
    EXPECT_EQ(std::count(io_->sent.begin(), io_->sent.end(), "dlo:stat?"), 4);
}

TEST_F(UpdateFirmwareTest, NoToAPassQuestionLeavesTheInstrumentUncommitted) {
    options_.badChecksumPasses = {1};
    Answer({Answer::kYes, Answer::kNo});
    EXPECT_EQ(Run(), kUpdateFailed);
    EXPECT_EQ(Commands().back(), "dlo:csum?");
    EXPECT_FALSE(io_->instrument.Committed());

    options_ = {};
    options_.dropLine = {{3, 1}};  // a lost record changes the checksum too
    window_ = FakeWindow();
    Answer({Answer::kYes, Answer::kYes, Answer::kNo});
    EXPECT_EQ(Run(), kUpdateFailed);
    EXPECT_EQ(window_.boxes.back().text.find("Records received does not equal"), 0u);
    EXPECT_EQ(Commands().back(), "dlo:stat?");
    EXPECT_FALSE(io_->instrument.Committed());
}

TEST_F(UpdateFirmwareTest, CountsThatMatchNeitherSideMeanACorruptFile) {
    options_.expectedRecords = 249;
    Answer({Answer::kYes});
    EXPECT_EQ(Run(), kUpdateFailed);
    EXPECT_EQ(window_.boxes.back().text,
              "The update file is corrupt.  Data records does not match expected.\r\n"
              "You need to get another copy of the update file.\r\n");
    EXPECT_EQ(window_.boxes.back().buttons, Buttons::kOk);
    EXPECT_EQ(Commands().back(), "dlo:stat?");
}

TEST_F(UpdateFirmwareTest, RunTimeErrorsEndInTheFlashWriteErrorBox) {
    struct Case {
        std::function<void()> arrange;
        std::string description;
        std::string lastSent;
    };
    const std::vector<Case> cases = {
        {[&] {
             options_.silentOn = {{"*IDN?", 0}};
         },
         "Timeout expired before operation completed", "*IDN?"},
        {[&] { options_.identification = "Velmora,KR470A,SN1"; },
         "Subscript out of range (the reply to *IDN? was \"Velmora,KR470A,SN1\")", "*IDN?"},
        // A "++" controller that echoes what it is sent, or floods lines.
        {[&] { options_.identification = "*IDN?"; },
         "Subscript out of range (the reply to *IDN? was \"*IDN?\")", "*IDN?"},
        {[&] { options_.identification = std::string(70, 'x') + "\x1b[2J"; },
         "Subscript out of range (the reply to *IDN? was \"" + std::string(60, 'x') + "\"...)",
         "*IDN?"},
        // A cut never splits a character of several bytes: no half of "é" in the box.
        {[&] { options_.identification = std::string(59, 'x') + "\xc3\xa9" + "y"; },
         "Subscript out of range (the reply to *IDN? was \"" + std::string(59, 'x') + "\"...)",
         "*IDN?"},
        {[&] { Identify("KR470A", "-2.10"); }, "Type mismatch", "*IDN?"},
        {[&] {
             options_.silentOn = {{"*OPC?", 2}};
         },
         "Timeout expired before operation completed", "*OPC?"},
        {[&] { replies_["dlo:stat?"] = {"many,250"}; }, "Type mismatch", "dlo:stat?"},
        {[&] { options_.hangUpAfterRecords = 10; }, "I/O error: the connection was closed", ""},
    };
    for (const Case& c : cases) {
        options_ = {};
        replies_.clear();
        c.arrange();
        window_ = FakeWindow();
        Answer({Answer::kYes});
        EXPECT_EQ(Run(), kUpdateRunTimeError) << c.description;
        ASSERT_FALSE(window_.boxes.empty());
        EXPECT_EQ(window_.boxes.back().text, c.description);
        EXPECT_EQ(window_.boxes.back().title, "FlashWrite Error");
        EXPECT_EQ(window_.boxes.back().icon, Icon::kNone);
        if (!c.lastSent.empty()) {
            EXPECT_EQ(io_->sent.back(), c.lastSent) << c.description;
        }
        EXPECT_FALSE(io_->instrument.Committed());
    }

    std::string missing = (dir_.Path() / "missing.ini").string();
    io_ = std::make_unique<SimulatedIO>(kr470::InstrumentOptions{});
    window_ = FakeWindow();
    EXPECT_EQ(UpdateFirmware(missing, *io_, progress_, window_), kUpdateRunTimeError);
    EXPECT_EQ(window_.boxes.back().text, "File not found: " + missing);
    EXPECT_TRUE(io_->sent.empty());
    EXPECT_EQ(UpdateFilePath, missing);
}

TEST_F(UpdateFirmwareTest, FileProblemsStopBeforeAnyDownloadCommand) {
    text_ = kr470::BuildUpdateFile(input_);
    text_.insert(text_.find("END\r\n"), "garbage\r\n");
    EXPECT_EQ(Run(), kUpdateFailed);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Non-SRecord in code section!"});
    EXPECT_FALSE(SentAnyDownloadCommand());

    // A section without any end record is refused before anything is sent.
    std::erase_if(input_.records, [](const std::string& r) { return r.rfind("S7", 0) == 0; });
    text_.clear();
    window_ = FakeWindow();
    Answer({Answer::kYes});
    EXPECT_EQ(Run(), kUpdateFailed);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{
                              "The code section does not end with its end record (S7, S8 or "
                              "S9).\r\nUpdate file may be corrupt!"});
    EXPECT_EQ(window_.boxes.back().icon, Icon::kCritical);
    EXPECT_FALSE(SentAnyDownloadCommand());
    EXPECT_EQ(window_.lines.back(), "Verifying code section of Update file.");
    EXPECT_EQ(std::count(io_->sent.begin(), io_->sent.end(), "dlo \"END\" "), 0);
}

}  // namespace
}  // namespace kestrel

namespace kestrel {
namespace {

// Rewrites the update file in place, record checksums kept valid, as soon as
// the first record goes out.
class RewritingIO : public testing::SimulatedIO {
  public:
    RewritingIO(kr470::InstrumentOptions options, std::function<void()> rewrite)
        : SimulatedIO(std::move(options)), rewrite_(std::move(rewrite)) {}
    void SendCommand(const std::string& command) override {
        if (rewrite_ && IsRecordCommand(command))
            std::exchange(rewrite_, nullptr)();
        SimulatedIO::SendCommand(command);
    }

  private:
    std::function<void()> rewrite_;
};

TEST_F(UpdateFirmwareTest, TwoMissingModelsAreNoMatchButALoaderTakesAFileWithoutModel) {
    text_ = kr470::BuildUpdateFile(input_);
    text_.erase(text_.find("IDN=KR470A\r\n"), 12);
    Identify("", "1.04-0-0");  // a garbled identification: no model field
    EXPECT_EQ(Run(), kUpdateFailed);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{
                              "This firmware update is not intended for this instrument.\r\n"
                              " - Update for \r\n - Current instrument is "});
    EXPECT_FALSE(SentAnyDownloadCommand());

    Identify("loader", "0.1-0-0");
    window_ = FakeWindow();
    EXPECT_EQ(Run(), kUpdateCommitted);
    EXPECT_EQ(window_.lines[1], "Loader firmware running ...");
}

TEST_F(UpdateFirmwareTest, ObjcopyImagesEndTheirPassAfterTheS9OrS8Record) {
    for (uint32_t address : {0x0u, 0x10000u}) {
        input_.records = testsupport::ObjcopyImage(dir_, 1000, address);
        const std::string end = input_.records.back();
        ASSERT_EQ(end[1], address == 0 ? '9' : '8');
        options_.newRevision = "1.05";  // objcopy's S0 header names the file, not a revision
        window_ = FakeWindow();
        Answer({Answer::kYes});
        ASSERT_EQ(Run(), kUpdateCommitted) << end;
        EXPECT_TRUE(io_->instrument.Committed());
        // S0, 63 data records and the end record, once; then the checks.
        std::vector<std::string> records;
        std::copy_if(io_->sent.begin(), io_->sent.end(), std::back_inserter(records),
                     IsRecordCommand);
        EXPECT_EQ(records.size(), 65u) << end;
        EXPECT_EQ(records.back(), "dlo \"" + end + "\" ");
        auto last = std::find(io_->sent.begin(), io_->sent.end(), records.back());
        ASSERT_NE(last, io_->sent.end());
        ASSERT_NE(last + 1, io_->sent.end());
        EXPECT_EQ(*(last + 1), "*OPC?");
        EXPECT_EQ(window_.boxes.back().text.rfind("Firmware update completed successfully", 0), 0u);
    }
}

TEST_F(UpdateFirmwareTest, RecordsHoldingAnythingButHexDigitsNeverReachTheWire) {
    input_.magicChecksum = true;
    for (const std::string& damaged :
         {std::string("S70500010000F9\";*RST;dlo:comp 1024903;\""), std::string("S7 0500010000F9"),
          std::string("SX05"), std::string("S"), std::string("S705000100\t00F9")}) {
        text_ = kr470::BuildUpdateFile(input_);
        size_t s7 = text_.find("\r\nS7") + 2;
        text_.replace(s7, text_.find("\r\n", s7) - s7, damaged);
        window_ = FakeWindow();
        Answer({Answer::kYes});
        EXPECT_EQ(Run(), kUpdateFailed) << damaged;
        EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Non-SRecord in code section!"});
        EXPECT_FALSE(SentAnyDownloadCommand()) << damaged;
    }
}

TEST_F(UpdateFirmwareTest, TheRecordsSentAreTheRecordsChecked) {
    const std::string original = kr470::BuildUpdateFile(input_);
    std::vector<std::string> altered = kr470::GenerateImage(250 * 32, 6, "KR470A 1.05");
    std::string path = dir_.Write("update.ini", original);
    auto rewrite = [&] {
        std::string text = original;
        for (size_t i = 100; i + 2 < altered.size(); ++i)
            text.replace(text.find(input_.records[i]), altered[i].size(), altered[i]);
        int fd = open(path.c_str(), O_WRONLY);  // in place: same inode, same length
        ASSERT_EQ(pwrite(fd, text.data(), text.size(), 0), static_cast<ssize_t>(text.size()));
        close(fd);
    };
    RewritingIO io(options_, rewrite);
    Answer({Answer::kYes});
    EXPECT_EQ(UpdateFirmware(path, io, progress_, window_), kUpdateCommitted);
    std::vector<std::string> records;
    std::copy_if(io.sent.begin(), io.sent.end(), std::back_inserter(records), IsRecordCommand);
    ASSERT_EQ(records.size(), input_.records.size());
    for (size_t i = 0; i < records.size(); ++i)
        EXPECT_EQ(records[i], "dlo \"" + input_.records[i] + "\" ") << i;
}

TEST_F(UpdateFirmwareTest, OnlyARegularFileIsAnUpdateFileAndAByteOrderMarkIsSkipped) {
    std::string fifo = (dir_.Path() / "fifo").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    struct Case {
        std::string path;
        std::string kind;
    };
    for (const Case& c : {Case{dir_.Path().string(), "a directory"}, Case{fifo, "a FIFO"},
                          Case{"/dev/zero", "a character device"}}) {
        io_ = std::make_unique<SimulatedIO>(options_);
        window_ = FakeWindow();
        std::string path = c.path;
        EXPECT_EQ(UpdateFirmware(path, *io_, progress_, window_), kUpdateRunTimeError);
        ASSERT_EQ(window_.boxes.size(), 1u);
        EXPECT_EQ(window_.boxes[0].text,
                  "Path/File access error: " + c.path + " is " + c.kind + ", not a regular file");
        EXPECT_TRUE(io_->sent.empty());
    }
    text_ = "\xEF\xBB\xBF" + kr470::BuildUpdateFile(input_);
    window_ = FakeWindow();
    Answer({Answer::kYes});
    EXPECT_EQ(Run(), kUpdateCommitted);
}

}  // namespace
}  // namespace kestrel
