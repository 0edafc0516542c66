// The RPC client against a server of scripted bytes: replies cut into
// fragments and across reads, late replies to other calls, refusals in the
// RPC library's words, and a fragment announcing 2 GB that is never read.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>

#include "RpcClient.h"
#include "RpcWire.h"

namespace kio {
namespace {

namespace rpc = kr470::rpc;

constexpr uint32_t kProgram = 0x0607AF;
constexpr uint32_t kVersion = 1;

std::string Words(std::initializer_list<uint32_t> words) {
    rpc::XdrWriter out;
    for (uint32_t word : words)
        out.U32(word);
    return out.Bytes();
}

// A transport whose peer answers each call record it is written with the
// bytes `answer` gives for that call's xid, served at most `most` bytes a read.
class ScriptedTransport : public Transport {
  public:
    using Answer = std::function<std::string(const rpc::CallHeader& call)>;
    ScriptedTransport(Answer answer, size_t most) : answer_(std::move(answer)), most_(most) {}

    bool WriteAll(std::span<const char> bytes, uint32_t) override {
        rpc::RecordReader records(1 << 16);
        records.Feed(std::string_view(bytes.data(), bytes.size()));
        std::string record;
        EXPECT_EQ(records.Next(record), rpc::RecordReader::State::kRecord);
        rpc::XdrReader reader(record);
        EXPECT_TRUE(rpc::ReadCallHeader(reader, lastCall_));
        lastArguments_.assign(reader.Rest());
        unread_ += answer_(lastCall_);
        return true;
    }
    long ReadSome(std::span<char> into, uint32_t) override {
        if (interrupted_ || unread_.empty())
            return -1;  // the peer has closed
        const size_t n = std::min({into.size(), most_, unread_.size()});
        std::copy_n(unread_.begin(), n, into.begin());
        unread_.erase(0, n);
        served_ += n;
        return static_cast<long>(n);
    }
    void Interrupt() override { interrupted_ = true; }

    rpc::CallHeader lastCall_;
    std::string lastArguments_;
    std::string unread_;
    size_t served_ = 0;

  private:
    Answer answer_;
    size_t most_;
    bool interrupted_ = false;
};

struct Harness {
    Harness(ScriptedTransport::Answer answer, size_t most = 7) {
        auto owned = std::make_unique<ScriptedTransport>(std::move(answer), most);
        transport = owned.get();
        client = std::make_unique<RpcClient>(std::move(owned), kProgram, kVersion);
    }
    RpcClient::Outcome Call(std::string_view arguments, size_t limit = 1024) {
        return client->Call(12, arguments, limit, 2000, results, why);
    }
    ScriptedTransport* transport;
    std::unique_ptr<RpcClient> client;
    std::string results;
    std::string why;
};

TEST(RpcClientTest, AReplyInThreeFragmentsAfterLateRepliesToOtherCallsIsTheCallsResults) {
    Harness h([](const rpc::CallHeader& call) {
        const std::string reply =
            rpc::AcceptedReply(call.xid, rpc::kAcceptSuccess, Words({7, 8, 9}));
        const std::string late = rpc::MarkRecord(rpc::AcceptedReply(call.xid - 1, 0, "LATE"));
        // 10 + 10 + the rest, the last fragment marked so.
        return late + late + Words({10}) + reply.substr(0, 10) + Words({10}) +
               reply.substr(10, 10) + Words({0x80000000u | uint32_t(reply.size() - 20)}) +
               reply.substr(20);
    });
    ASSERT_EQ(h.Call(Words({1, 2})), RpcClient::Outcome::kDone) << h.why;
    EXPECT_EQ(h.results, Words({7, 8, 9}));
    EXPECT_EQ(h.transport->lastCall_.program, kProgram);
    EXPECT_EQ(h.transport->lastCall_.version, kVersion);
    EXPECT_EQ(h.transport->lastCall_.procedure, 12u);
    EXPECT_EQ(h.transport->lastArguments_, Words({1, 2}));
    // The next call has an xid of its own, and its reply is found as well.
    const uint32_t first = h.transport->lastCall_.xid;
    ASSERT_EQ(h.Call(Words({3})), RpcClient::Outcome::kDone) << h.why;
    EXPECT_NE(h.transport->lastCall_.xid, first);
}

TEST(RpcClientTest, AFragmentAnnouncing2GigabytesIsNotReadBeyondTheStartOfItsResults) {
    Harness h([](const rpc::CallHeader& call) {
        std::string stream = Words({0xFFFFFFFFu}) +
                             rpc::AcceptedReply(call.xid, rpc::kAcceptSuccess, Words({0, 4, 99}));
        return stream + std::string(1 << 20, 'x');  // and more the client must leave
    });
    ASSERT_EQ(h.Call({}), RpcClient::Outcome::kTooLarge);
    EXPECT_EQ(h.why, "RPC: Can't decode result: a reply of 2147483647 bytes or more");
    EXPECT_EQ(h.results.substr(0, 12), Words({0, 4, 99}));
    EXPECT_LE(h.transport->served_, 4 + RpcClient::kShownOfTooLarge + 7);
    // The stream is beyond use: the next call fails the same way.
    EXPECT_NE(h.Call({}), RpcClient::Outcome::kDone);
}

TEST(RpcClientTest, RefusedCallsFailWithTheRpcLibrarysWords) {
    struct Case {
        std::string afterXid;
        std::string why;
    };
    const std::vector<Case> cases = {
        {Words({1, 0, 0, 0, 1}), "RPC: Program unavailable"},
        {Words({1, 0, 0, 0, 2, 1, 3}),
         "RPC: Program/version mismatch; low version = 1, high version = 3"},
        {Words({1, 0, 0, 0, 3}), "RPC: Procedure unavailable"},
        {Words({1, 0, 0, 0, 4}), "RPC: Server can't decode arguments"},
        {Words({1, 0, 0, 0, 5}), "RPC: Remote system error"},
        {Words({1, 0, 0, 0, 77}), "RPC: Failed (unspecified error)"},
        {Words({1, 1, 0, 2, 2}),
         "RPC: Incompatible versions of RPC; low version = 2, high version = 2"},
        {Words({1, 1, 1, 1}), "RPC: Authentication error"},
        {Words({1, 0, 0, 0}), "RPC: Can't decode result"},  // cut short
        {Words({0, 2}), "RPC: Can't decode result"},        // a call, not a reply
    };
    for (const Case& c : cases) {
        Harness h([&c](const rpc::CallHeader& call) {
            return rpc::MarkRecord(Words({call.xid}) + c.afterXid);
        });
        EXPECT_EQ(h.Call({}), RpcClient::Outcome::kFailed);
        EXPECT_EQ(h.why, c.why);
    }
}

TEST(RpcClientTest, AClosedConnectionAndAnInterruptEndTheCallWithTheirReason) {
    Harness closed([](const rpc::CallHeader&) { return Words({0x80000010u, 1}); });
    EXPECT_EQ(closed.Call({}), RpcClient::Outcome::kFailed);
    EXPECT_EQ(closed.why, "RPC: Unable to receive");

    Harness stopped([](const rpc::CallHeader& call) {
        return rpc::MarkRecord(rpc::AcceptedReply(call.xid, rpc::kAcceptSuccess));
    });
    stopped.client->Interrupt();
    EXPECT_EQ(stopped.Call({}), RpcClient::Outcome::kFailed);
    EXPECT_EQ(stopped.why, "interrupted on request");
}

}  // namespace
}  // namespace kio
