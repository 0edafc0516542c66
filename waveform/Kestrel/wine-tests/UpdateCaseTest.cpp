// The end-to-end runners' shared case code: what makes a run count as failed
// and how a box is recorded, since both sides are compared through it.
#include "UpdateCase.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "TempFile.h"

namespace kestrel::e2e {
namespace {

std::optional<CaseOptions> Parse(std::vector<std::string> words, std::string& error) {
    std::vector<char*> args;
    for (std::string& word : words)
        args.push_back(word.data());
    return ParseCaseOptions(args, error);
}

class BoxAnswererTest : public ::testing::Test {
  protected:
    std::string Record() const {
        std::ifstream in(path_, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    testsupport::TempDir dir_;
    std::string path_ = (dir_.Path() / "boxes.txt").string();
};

TEST(ParseCaseOptionsTest, TakesTheScriptAndRefusesAnAnswerNoBoxHas) {
    std::string error;
    std::optional<CaseOptions> options =
        Parse({"--address", "ASRL5::INSTR", "--file", "a.ini", "--boxes", "b", "--strict", "off",
               "--answers", "yes,no,ok", "--deadline", "7"},
              error);
    ASSERT_TRUE(options) << error;
    EXPECT_FALSE(options->strict);
    EXPECT_EQ(options->answers, (std::vector<Reply>{Reply::kYes, Reply::kNo, Reply::kOk}));
    EXPECT_EQ(options->deadlineSeconds, 7);

    EXPECT_FALSE(
        Parse({"--address", "a", "--file", "f", "--boxes", "b", "--answers", "yes,maybe"}, error));
    EXPECT_FALSE(
        Parse({"--address", "a", "--file", "f", "--boxes", "b", "--deadline", "0"}, error));
    EXPECT_FALSE(Parse({"--address", "a", "--file", "f"}, error));
    EXPECT_EQ(error, "--address, --file and --boxes are needed");
}

TEST_F(BoxAnswererTest, ScriptedAnswersAreRecordedOneLineABoxWithControlsSpelledOut) {
    BoxAnswerer answerer({Reply::kYes, Reply::kOk}, path_);
    const Reply yesNo[] = {Reply::kYes, Reply::kNo};
    const Reply ok[] = {Reply::kOk};
    EXPECT_EQ(answerer.Answer("Firmware Update", "Update Version 1.05\r\n\tgo?\\", yesNo),
              Reply::kYes);
    EXPECT_EQ(answerer.Answer("Firmware Update", "Firmware update failed!", ok), Reply::kOk);
    EXPECT_EQ(answerer.Failure(), "");
    EXPECT_EQ(Record(),
              "Firmware Update\tUpdate Version 1.05\\r\\n\\tgo?\\\\\tyes\n"
              "Firmware Update\tFirmware update failed!\tok\n");
}

TEST_F(BoxAnswererTest, AnUnexpectedBoxTakesItsWayOutAndFailsTheRun) {
    BoxAnswerer answerer({Reply::kYes}, path_);
    const Reply ok[] = {Reply::kOk};
    const Reply yesNo[] = {Reply::kYes, Reply::kNo};
    EXPECT_EQ(answerer.Answer("Firmware Update", "Firmware update failed!", ok), Reply::kOk);
    EXPECT_EQ(answerer.Answer("Firmware Update", "Try again? (Y/N)", yesNo), Reply::kNo);
    EXPECT_EQ(answerer.Failure(), "box 1 offers no yes; box 2 is past the script's answers; ");
    EXPECT_EQ(Record(),
              "Firmware Update\tFirmware update failed!\t<unscripted>\n"
              "Firmware Update\tTry again? (Y/N)\t<unscripted>\n");
}

TEST_F(BoxAnswererTest, AnswersLeftUnusedFailTheRun) {
    BoxAnswerer answerer({Reply::kYes, Reply::kOk}, path_);
    const Reply yesNo[] = {Reply::kYes, Reply::kNo};
    answerer.Answer("Firmware Update", "Continue?", yesNo);
    EXPECT_EQ(answerer.Failure(), "1 scripted answer(s) unused");
}

}  // namespace
}  // namespace kestrel::e2e
