// The simulator's LAN face without sockets: XDR and record marking, the
// core channel's calls against the instrument, the portmapper's answer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Portmapper.h"
#include "RpcWire.h"
#include "Vxi11Core.h"

namespace kr470 {
namespace {

using rpc::RecordReader;
using rpc::XdrReader;
using rpc::XdrWriter;

TEST(XdrTest, OpaqueDataIsPaddedToFourBytesAndReadBackWithinItsLimit) {
    XdrWriter out;
    out.U32(0x01020304);
    out.I32(-2);
    out.Opaque("inst0");
    out.Opaque("");
    const std::string& bytes = out.Bytes();
    ASSERT_EQ(bytes.size(), 4u + 4 + 4 + 8 + 4);
    EXPECT_EQ(bytes.substr(0, 4), std::string("\x01\x02\x03\x04", 4));
    EXPECT_EQ(bytes.substr(4, 4), std::string("\xff\xff\xff\xfe", 4));
    EXPECT_EQ(bytes.substr(12, 8), std::string("inst0\0\0\0", 8));

    XdrReader in(bytes);
    uint32_t word = 0;
    int32_t number = 0;
    std::string text = "x";
    ASSERT_TRUE(in.U32(word) && in.I32(number) && in.Opaque(text, 16));
    EXPECT_EQ(word, 0x01020304u);
    EXPECT_EQ(number, -2);
    EXPECT_EQ(text, "inst0");
    ASSERT_TRUE(in.Opaque(text, 16));
    EXPECT_EQ(text, "");
    EXPECT_EQ(in.Remaining(), 0u);
    EXPECT_FALSE(in.U32(word));
}

TEST(XdrTest, LengthsBeyondTheDataOrTheLimitAreRefused) {
    XdrWriter out;
    out.Opaque("0123456789");
    std::string text;
    EXPECT_FALSE(XdrReader(out.Bytes()).Opaque(text, 9));  // over the limit
    // Cut inside the padding and inside the data: never read past the end.
    EXPECT_FALSE(XdrReader(std::string_view(out.Bytes()).substr(0, 15)).Opaque(text, 64));
    EXPECT_FALSE(XdrReader(std::string_view(out.Bytes()).substr(0, 6)).Opaque(text, 64));
    XdrWriter huge;
    huge.U32(0xfffffffc);
    EXPECT_FALSE(XdrReader(huge.Bytes()).Opaque(text, 0xffffffff));
    uint32_t word = 0;
    EXPECT_FALSE(XdrReader("abc").U32(word));
}

TEST(RecordMarkingTest, FragmentsArriveInPiecesAndJoinIntoRecords) {
    // Two fragments, the first not the last, then a whole second record.
    std::string stream = std::string("\x00\x00\x00\x03", 4) + "abc" +
                         std::string("\x80\x00\x00\x02", 4) + "de" + rpc::MarkRecord("second");
    RecordReader reader(64);
    std::vector<std::string> records;
    std::string record;
    for (char c : stream) {  // a byte at a time: headers split too
        reader.Feed(std::string_view(&c, 1));
        while (reader.Next(record) == RecordReader::State::kRecord)
            records.push_back(record);
    }
    EXPECT_EQ(records, (std::vector<std::string>{"abcde", "second"}));
    EXPECT_EQ(rpc::MarkRecord("xy"), std::string("\x80\x00\x00\x02xy", 6));
}

TEST(RecordMarkingTest, ARecordLargerThanTheLimitIsRefusedBeforeItArrives) {
    RecordReader reader(8);
    reader.Feed(std::string("\x00\x00\x00\x06", 4) + "123456" + std::string("\x80\x00\x00\x06", 4));
    std::string record;
    EXPECT_EQ(reader.Next(record), RecordReader::State::kTooLarge);
}

// A call record as a client sends it, with AUTH_UNIX credentials to skip.
std::string Call(uint32_t program, uint32_t procedure, const std::string& arguments,
                 uint32_t version = 1) {
    XdrWriter call;
    for (uint32_t word : {0x1234u, 0u, 2u, program, version, procedure})
        call.U32(word);
    call.U32(1);
    call.Opaque("credential body");
    call.U32(0);
    call.Opaque("");
    return call.Bytes() + arguments;
}

// A reply's accept status and results, after checking its header.
struct Reply {
    uint32_t status = 99;
    std::vector<int32_t> words;
    std::string data;
};
Reply Read(const std::string& record, size_t words, bool withData = false) {
    XdrReader in(record);
    uint32_t xid = 0, type = 0, accepted = 9, flavour = 9;
    std::string verifier;
    Reply reply;
    EXPECT_TRUE(in.U32(xid) && in.U32(type) && in.U32(accepted) && in.U32(flavour) &&
                in.Opaque(verifier, 400) && in.U32(reply.status));
    EXPECT_EQ(xid, 0x1234u);
    EXPECT_EQ(type, 1u);
    EXPECT_EQ(accepted, 0u);
    for (size_t i = 0; i < words && reply.status == 0; ++i) {
        int32_t word = 0;
        EXPECT_TRUE(in.I32(word));
        reply.words.push_back(word);
    }
    if (withData && reply.status == 0) {
        EXPECT_TRUE(in.Opaque(reply.data, 1 << 20));
    }
    EXPECT_EQ(in.Remaining(), 0u);
    return reply;
}

std::string Words(std::initializer_list<uint32_t> words, const std::string* data = nullptr) {
    XdrWriter out;
    for (uint32_t w : words)
        out.U32(w);
    if (data)
        out.Opaque(*data);
    return out.Bytes();
}

class Vxi11CoreTest : public ::testing::Test {
  protected:
    Vxi11CoreTest() {
        options_.maxRecvSize = 64;
        core_ = std::make_unique<Vxi11Core>(options_, [this](const std::string& line) {
            lines_.push_back(line);
            Response response;
            if (line == "drop")
                response.hangUp = true;
            else if (line.ends_with("?"))
                response.reply = "reply to " + line;
            return response;
        });
    }
    int32_t Link(const std::string& device = "inst0") {
        Reply r =
            Read(core_->Handle(Call(kVxi11CoreProgram, 10, Words({7, 0, 0}, &device))).reply, 4);
        EXPECT_EQ(r.status, 0u);
        return r.words.at(0) == 0 ? r.words.at(1) : -r.words.at(0);
    }
    Vxi11Core::Answer Write(int32_t link, const std::string& data) {
        return core_->Handle(
            Call(kVxi11CoreProgram, 11, Words({uint32_t(link), 100, 0, 8}, &data)));
    }
    Vxi11Core::Answer ReadCall(int32_t link, uint32_t size, uint32_t ioTimeout = 500) {
        return core_->Handle(
            Call(kVxi11CoreProgram, 12, Words({uint32_t(link), size, ioTimeout, 0, 0, 0})));
    }

    Vxi11Options options_;
    std::unique_ptr<Vxi11Core> core_;
    std::vector<std::string> lines_;
};

TEST_F(Vxi11CoreTest, LinksOnlyToItsDeviceNameAndAnnouncesItsLargestWrite) {
    EXPECT_EQ(Link("inst1"), -3);  // device not accessible
    const std::string device = "inst0";
    Reply r = Read(core_->Handle(Call(kVxi11CoreProgram, 10, Words({7, 0, 0}, &device))).reply, 4);
    EXPECT_EQ(r.words.at(0), 0);
    EXPECT_EQ(r.words.at(3), 64);
    int32_t second = Link();
    EXPECT_NE(second, r.words.at(1));
    // Unlinked, the link is gone for writes and a second unlink.
    EXPECT_EQ(
        Read(core_->Handle(Call(kVxi11CoreProgram, 23, Words({uint32_t(second)}))).reply, 1).words,
        std::vector<int32_t>{0});
    EXPECT_EQ(Read(Write(second, "*IDN?\n").reply, 2).words.at(0), 4);
    EXPECT_EQ(
        Read(core_->Handle(Call(kVxi11CoreProgram, 23, Words({uint32_t(second)}))).reply, 1).words,
        std::vector<int32_t>{4});
}

// Each link is a new session: the instrument is told (it may have been left
// in download mode by the session before).
TEST_F(Vxi11CoreTest, EachLinkCreatedIsToldAsANewSessionARefusedOneIsNot) {
    int sessions = 0;
    core_->OnNewLink([&] { ++sessions; });
    Link();
    Link();
    EXPECT_EQ(Link("inst1"), -3);
    EXPECT_EQ(sessions, 2);
}

TEST_F(Vxi11CoreTest, WritesFeedWholeLinesAndReadsServeRepliesInRequestedPieces) {
    int32_t link = Link();
    EXPECT_EQ(Read(Write(link, "*ID").reply, 2).words, (std::vector<int32_t>{0, 3}));
    EXPECT_TRUE(lines_.empty());
    EXPECT_EQ(Read(Write(link, "N?\nset 1\n").reply, 2).words, (std::vector<int32_t>{0, 9}));
    EXPECT_EQ(lines_, (std::vector<std::string>{"*IDN?", "set 1"}));

    Reply first = Read(ReadCall(link, 9).reply, 2, true);
    EXPECT_EQ(first.words, (std::vector<int32_t>{0, 1}));  // request count reached
    EXPECT_EQ(first.data, "reply to ");
    Vxi11Core::Answer rest = ReadCall(link, 100);
    EXPECT_EQ(rest.holdMs, 0u);
    Reply second = Read(rest.reply, 2, true);
    EXPECT_EQ(second.words, (std::vector<int32_t>{0, 4}));  // END
    EXPECT_EQ(second.data, "*IDN?\n");
}

TEST_F(Vxi11CoreTest, EachReplyIsAMessageOfItsOwnWithOrWithoutItsLineFeed) {
    int32_t link = Link();
    Write(link, "a?\nb?\n");
    EXPECT_EQ(Read(ReadCall(link, 100).reply, 2, true).data, "reply to a?\n");
    options_.lineFeed = false;
    Write(link, "c?\n");
    Reply b = Read(ReadCall(link, 100).reply, 2, true);
    EXPECT_EQ(b.words, (std::vector<int32_t>{0, 4}));
    EXPECT_EQ(b.data, "reply to b?\n");  // queued before the change
    EXPECT_EQ(Read(ReadCall(link, 100).reply, 2, true).data, "reply to c?");
}

TEST_F(Vxi11CoreTest, AReadWithNothingToComeIsAnsweredWithATimeOutAfterItsWait) {
    int32_t link = Link();
    Vxi11Core::Answer answer = ReadCall(link, 100, 750);
    EXPECT_EQ(answer.holdMs, 750u);
    EXPECT_EQ(Read(answer.reply, 2, true).words, (std::vector<int32_t>{15, 0}));
    EXPECT_EQ(Read(ReadCall(link + 100, 100).reply, 2, true).words.at(0), 4);
}

TEST_F(Vxi11CoreTest, HangUpMuteAndMalformedCalls) {
    options_.muteOn = {{"*opc?", 2}};
    int32_t link = Link();
    EXPECT_FALSE(Write(link, "*OPC?\n").mute);
    EXPECT_TRUE(Write(link, "*OPC?\n").mute);
    EXPECT_TRUE(Write(link, "drop\n").hangUp);
    // Arguments cut short, a write over the announced size, unknown calls.
    EXPECT_EQ(Read(core_->Handle(Call(kVxi11CoreProgram, 12, Words({1, 2}))).reply, 0).status, 4u);
    EXPECT_EQ(Read(Write(link, std::string(65, 'x')).reply, 0).status, 4u);
    EXPECT_EQ(Read(core_->Handle(Call(kVxi11CoreProgram, 15, "")).reply, 0).status, 3u);
    EXPECT_EQ(Read(core_->Handle(Call(kVxi11CoreProgram, 10, "", 2)).reply, 0).status, 1u);
    EXPECT_EQ(core_->Handle("not a call").reply, "");
}

TEST(PortmapperTest, GivesTheCorePortOverTcpAndZeroForAnythingElse) {
    auto port = [](uint32_t program, uint32_t version, uint32_t protocol) {
        std::optional<std::string> reply =
            AnswerPortmapperCall(Call(100000, 3, Words({program, version, protocol, 0}), 2), 4321);
        return reply ? Read(*reply, 1).words.at(0) : -1;
    };
    EXPECT_EQ(port(0x0607AF, 1, 6), 4321);
    EXPECT_EQ(port(0x0607AF, 1, 17), 0);  // no UDP core channel
    EXPECT_EQ(port(0x0607B0, 1, 6), 0);   // the abort channel is not served
    EXPECT_EQ(port(100003, 3, 6), 0);
    EXPECT_EQ(Read(*AnswerPortmapperCall(Call(100000, 0, "", 2), 1), 0).status, 0u);
    EXPECT_EQ(Read(*AnswerPortmapperCall(Call(100000, 3, "", 2), 1), 0).status, 4u);
    EXPECT_EQ(Read(*AnswerPortmapperCall(Call(100000, 3, "", 4), 1), 0).status, 1u);
    EXPECT_FALSE(AnswerPortmapperCall("\x00\x00", 1));
}

}  // namespace
}  // namespace kr470
