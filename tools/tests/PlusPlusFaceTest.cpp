// The simulator's "++" controller face: what reaches the instrument, what
// comes back, and that it reads the library's escaping as the library means it.
#include "PlusPlusFace.h"

#include <gtest/gtest.h>

#include "GpibController.h"

namespace kr470 {
namespace {

class PlusPlusFaceTest : public ::testing::Test {
  protected:
    PlusPlusFace MakeFace(GpibFaceSettings settings = {true, 10, -1, -1}) {
        return PlusPlusFace(settings, [this](const std::string& line) {
            received_.push_back(line);
            Response response;
            if (line == "hang up")
                response.hangUp = true;
            else if (line.ends_with("?"))
                response.reply = "re " + line;
            return response;
        });
    }
    std::vector<std::string> received_;
};

constexpr const char* kSetUp = "++mode 1\n++auto 0\n++eoi 1\n++eos 2\n";

TEST_F(PlusPlusFaceTest, TakesTheLibrarysEscapedDataWhole) {
    PlusPlusFace face = MakeFace();
    std::string line =
        "+5 a\rb\x1b"
        "c ++read?";
    FaceOutput out = face.Feed(std::string(kSetUp) + "++addr 10\n" +
                               kio::EscapeControllerData(line + "\n") + "++read eoi\n");
    EXPECT_EQ(received_, std::vector<std::string>{line});
    EXPECT_EQ(out.toHost, "re " + line + "\n");
    // An escaped LF inside the data ends a line at the instrument, as on the bus.
    received_.clear();
    face.Feed(kio::EscapeControllerData(std::string_view("one\ntwo\n")));
    EXPECT_EQ(received_, (std::vector<std::string>{"one", "two"}));
}

TEST_F(PlusPlusFaceTest, OnlyTheInstrumentAtItsAddressListensAndTalks) {
    PlusPlusFace face = MakeFace({true, 10, 5, -1});
    std::string wire = std::string(kSetUp) + "++addr 10\n*IDN?\n++read eoi\n" +  // no secondary
                       "++addr 11 101\n*IDN?\n++read eoi\n" +                    // wrong primary
                       "++addr 10 101\n*IDN?\n++read eoi\n++read eoi\n";
    FaceOutput out = face.Feed(wire);
    EXPECT_EQ(received_, std::vector<std::string>{"*IDN?"});
    EXPECT_EQ(out.toHost, "re *IDN?\n");  // once: a second read finds nothing
}

TEST_F(PlusPlusFaceTest, AnOverlongLineIsDroppedAndUnreadRepliesAreBounded) {
    PlusPlusFace face = MakeFace();
    face.Feed(std::string(kSetUp) + "++addr 10\n");
    for (int i = 0; i < 64; ++i)  // 256 kB without a line end
        face.Feed(std::string(4096, 'x'));
    face.Feed("\nnext?\n");
    EXPECT_EQ(received_, std::vector<std::string>{"next?"});
    for (size_t i = 0; i < kMostUnreadReplies + 10; ++i)
        face.Feed("q?\n");
    size_t replies = 0;
    while (!face.Feed("++read eoi\n").toHost.empty())
        ++replies;
    EXPECT_EQ(replies, kMostUnreadReplies);
}

TEST_F(PlusPlusFaceTest, TwoHostsLinesNeverRunIntoOneButShareTheController) {
    PlusPlusFace face = MakeFace();
    HostLine first, second;
    face.Feed(std::string(kSetUp) + "++addr 10\n*ID", first);
    EXPECT_EQ(face.Feed("++addr\n", second).toHost, "10\n");  // one controller
    face.Feed("N?\n", first);
    EXPECT_EQ(received_, std::vector<std::string>{"*IDN?"});
    EXPECT_EQ(face.Feed("++read eoi\n", second).toHost, "re *IDN?\n");
}

TEST_F(PlusPlusFaceTest, SettingsAnswerWhenAskedAndBadValuesAreIgnored) {
    PlusPlusFace face = MakeFace();
    FaceOutput out = face.Feed(
        "++addr 7 100\n++addr\n++eos 9\n++eos\n++read_tmo_ms 250\n++read_tmo_ms\n"
        "++addr 31\n++addr\n++ver\n++ifc\n++savecfg 0\n");
    EXPECT_EQ(out.toHost, "7 100\n0\n250\n7 100\nkr470-sim \"++\" GPIB controller, version 1.0\n");
    EXPECT_TRUE(received_.empty());
}

TEST_F(PlusPlusFaceTest, TerminatorClearAndAutomaticReadFollowTheSettings) {
    PlusPlusFace face = MakeFace();
    // With no terminator added, the data must carry its own.
    FaceOutput out = face.Feed("++addr 10\n++eos 3\n*IDN?\n");
    EXPECT_TRUE(received_.empty());
    out = face.Feed("\x1b\n\n++clr\n++read eoi\n");
    EXPECT_EQ(received_, std::vector<std::string>{"*IDN?"});
    EXPECT_EQ(out.toHost, "");  // the clear dropped the reply
    out = face.Feed("++eos 0\n++auto 1\n*STB?\n");
    EXPECT_EQ(received_.back(), "*STB?");  // the CR of CR LF is no part of it
    EXPECT_EQ(out.toHost, "re *STB?\n");
    out = face.Feed("++mode 0\n*OPC?\n");
    EXPECT_EQ(received_.size(), 2u);  // in device mode nothing is passed on
}

TEST_F(PlusPlusFaceTest, FallsSilentAfterItsReadsAndPassesAHangUpOn) {
    PlusPlusFace face = MakeFace({true, 10, -1, 1});
    FaceOutput out = face.Feed(std::string(kSetUp) + "++addr 10\nA?\n++read eoi\nB?\n++read eoi\n");
    EXPECT_EQ(out.toHost, "re A?\n");
    EXPECT_EQ(face.Feed("++ver\n").toHost, "");

    PlusPlusFace other = MakeFace();
    out = other.Feed(std::string(kSetUp) + "++addr 10\nhang up\nC?\n");
    EXPECT_TRUE(out.hangUp);
    EXPECT_EQ(received_.back(), "hang up");
}

}  // namespace
}  // namespace kr470
