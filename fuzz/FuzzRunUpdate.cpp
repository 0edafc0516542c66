// The update procedure's handling of the instrument's replies: a sound update
// file, a user who answers Yes, and an instrument whose replies are the fuzz
// input, one line per query (no line left: the query times out).
#include <array>
#include <deque>
#include <memory>
#include <string>

#include "Console.h"
#include "FakePort.h"
#include "FuzzSupport.h"
#include "SerialLink.h"
#include "UpdateFileBuilder.h"
#include "UpdateProcedure.h"

namespace {

const std::string& UpdateFileText() {
    static const std::string text = [] {
        kr470::UpdateFileInput input;
        input.records = kr470::GenerateImage(4 * 32, 3, "KR470A 1.05");
        input.revision = "1.05";
        return kr470::BuildUpdateFile(input);
    }();
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> lines = osprey::fuzz::Pieces(data, size, '\n');
    lines.pop_back();  // only whole lines are replies
    std::deque<std::string> replies(lines.begin(), lines.end());
    osprey::fuzz::QuietConsole console("y\ny\ny\ny\ny\ny\n\n");
    osprey::strictChecking = size > 0 && (data[0] & 1) != 0;  // both ways of sending records
    const std::string& text = UpdateFileText();
    osprey::fuzz::MemoryFile file(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    osprey::testing::FakePort::State port;
    port.responder = [&](const std::string& command) -> std::optional<std::string> {
        if (command.empty() || command.back() != '?' || replies.empty())
            return std::nullopt;
        std::string reply = replies.front();
        replies.pop_front();
        return reply;
    };
    osprey::SerialLink link(std::make_unique<osprey::testing::FakePort>(port));
    try {
        link.Open("COM1");
        std::array<char, 256> identification{};
        std::string first = replies.empty() ? "" : replies.front();
        first.copy(identification.data(), identification.size() - 1);
        osprey::RunUpdate(file.Path(), identification.data(), link);
    } catch (int) {
        // A link failure ends the update with its code, as the entry reports it.
    }
    return 0;
}
