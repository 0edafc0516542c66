// What confirms an update after its commit: the promised model and revision
// with the serial number from before.
#include "Confirmation.h"

#include <gtest/gtest.h>

#include "TempFile.h"
#include "UpdateFileBuilder.h"

namespace osprey {
namespace {

const std::string kBefore = "Velmora,KR470A,SN470001,1.04-2.10-0.9";
const UpdatePromise kPromise{"KR470A", "1.05"};

TEST(ConfirmationTest, ThePromisedModelAndRevisionWithTheSameSerialConfirm) {
    EXPECT_EQ(ConfirmationFailure(kBefore, "Velmora,KR470A,SN470001,1.05-2.10-0.9", kPromise), "");
    EXPECT_EQ(ConfirmationFailure(kBefore, "Velmora,KR470A, SN470001 ,1.050", kPromise), "");
    // A loader before: its serial number carries over.
    EXPECT_EQ(ConfirmationFailure("Velmora,loader KR470A,SN470001,0.00-2.10",
                                  "Velmora,KR470A,SN470001,1.05-2.10", kPromise),
              "");
}

TEST(ConfirmationTest, EachMismatchOrNoAnswerSaysWhy) {
    EXPECT_EQ(ConfirmationFailure(kBefore, "Velmora,KR470A,SN470001,1.04-2.10-0.9", kPromise),
              "after the commit the instrument reports revision 1.04, not the update's 1.05");
    EXPECT_EQ(ConfirmationFailure(kBefore, "Velmora,loader KR470A,SN470001,0.00", kPromise),
              "after the commit the instrument identifies as model \"loader KR470A\", not the "
              "update's \"KR470A\"");
    EXPECT_EQ(ConfirmationFailure(kBefore, "Velmora,KR470A,SN470002,1.05", kPromise),
              "after the commit the serial number is \"SN470002\", not \"SN470001\" as before");
    EXPECT_EQ(ConfirmationFailure(kBefore, "Velmora,KR470A,SN470001", kPromise),
              "after the commit the instrument reports no revision, not the update's 1.05");
    EXPECT_EQ(ConfirmationFailure(kBefore, std::nullopt, kPromise),
              "the instrument did not answer \"*IDN?\" after the commit");
}

TEST(ConfirmationTest, ThePromiseIsTheUpdateFilesModelAndRevision) {
    kr470::UpdateFileInput input;
    input.records = kr470::GenerateImage(64, 1, "KR470A 1.05");
    input.revision = "1.05";
    testsupport::TempDir dir;
    std::optional<UpdatePromise> promise =
        ReadUpdatePromise(dir.Write("update.ini", kr470::BuildUpdateFile(input)));
    ASSERT_TRUE(promise);
    EXPECT_EQ(promise->model, "KR470A");
    EXPECT_EQ(promise->revision, "1.05");
    EXPECT_FALSE(ReadUpdatePromise((dir.Path() / "absent.ini").string()));
}

}  // namespace
}  // namespace osprey
