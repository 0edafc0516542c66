#include "modGlobals.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>

#include "RuntimeError.h"
#include "Text.h"

namespace kestrel {

thread_local std::string UpdateFilePath;
constinit thread_local int16_t StrictChecking = 1;

namespace {

// Until a window registers, boxes answer OK.
class NoWindow final : public WindowServices {
  public:
    Answer ShowMessage(const std::string&, Buttons, Icon, const std::string&) override {
        return Answer::kOk;
    }
    void Breathe() override {}
};

NoWindow noWindow;  // keeps no state: every thread may share it
thread_local WindowServices* services = &noWindow;

void AddAndBreathe(MessageList& messages, std::initializer_list<std::string> lines) {
    for (const std::string& line : lines) {
        messages.AddLine(line);
    }
    messages.Redraw();
    Window().Breathe();
}

bool IsRecordText(const std::string& line) {
    auto isHex = [](unsigned char c) { return std::isxdigit(c) != 0; };
    return line.size() >= 2 && line[0] == 'S' && line[1] >= '0' && line[1] <= '9' &&
           std::all_of(line.begin() + 2, line.end(), isHex);
}

int16_t Fail(const char* message) {
    Window().ShowMessage(message, Buttons::kOk, Icon::kCritical, kBoxTitle);
    return 1;
}

}  // namespace

WindowServices& Window() {
    return *services;
}
void SetWindowServices(WindowServices* window) {
    services = window != nullptr ? window : &noWindow;
}

void OpenUpdateFile(StreamVariable& stream) {
    stream = TextStream::OpenTextFile(UpdateFilePath);
}

int32_t GetIniValue(StreamVariable& stream, const std::string& section, const std::string& key,
                    std::string& value) {
    OpenUpdateFile(stream);
    const std::string header = "[" + section + "]";
    bool found = false;
    while (!stream->AtEndOfStream()) {
        if (StartsWithIgnoringCase(stream->ReadLine(), header)) {
            found = true;
            break;
        }
    }
    if (key.empty() || !found) {
        return 0;
    }
    while (!stream->AtEndOfStream()) {
        std::string line = stream->ReadLine();
        if (line.compare(0, key.size(), key) != 0) {
            continue;
        }
        // A key line without its separator would give a value of negative length.
        if (line.size() < key.size() + 1) {
            throw RuntimeError::InvalidArgument();
        }
        value = line.substr(key.size() + 1);
        return static_cast<int32_t>(value.size());
    }
    return 0;
}

int32_t SplitText(const std::string& text, const std::string& delimiter,
                  std::vector<std::string>& target) {
    if (text.empty()) {
        return 0;  // no field at all; the list stays as it was
    }
    std::vector<std::string> pieces;
    if (delimiter.empty()) {
        pieces.push_back(text);
    } else {
        const std::string lowerText = Lower(text);
        const std::string lowerDelimiter = Lower(delimiter);
        size_t start = 0;
        for (;;) {
            size_t at = lowerText.find(lowerDelimiter, start);
            pieces.push_back(text.substr(start, at == std::string::npos ? at : at - start));
            if (at == std::string::npos)
                break;
            start = at + delimiter.size();
        }
    }
    size_t count = pieces.size();
    if (pieces.back().empty()) {
        --count;
    }
    pieces.resize(count);
    target = std::move(pieces);
    return static_cast<int32_t>(count);
}

int16_t CheckCodeSection(StreamVariable& stream, int32_t expectedRecords, MessageList& messages,
                         std::vector<std::string>* checkedLines) {
    AddAndBreathe(messages, {"Verifying code section of Update file."});
    std::string storedText;
    GetIniValue(stream, "Firmware Info", "Checksum", storedText);
    const int32_t stored = ToLong(storedText);
    int32_t records = 0;
    int64_t sum = 0;
    std::string ignored;
    GetIniValue(stream, "Code", "", ignored);
    std::vector<std::string> lines;
    for (;;) {
        std::string line = stream->ReadLine();
        if (line == "END")
            break;
        if (!IsRecordText(line)) {
            return Fail("Non-SRecord in code section!");
        }
        if (line.size() >= 2 && line[1] >= '1' && line[1] <= '3') {
            ++records;
        }
        for (unsigned char c : line) {
            sum += c;
        }
        if (sum > std::numeric_limits<int32_t>::max()) {
            throw RuntimeError::Overflow();
        }
        lines.push_back(std::move(line));
    }
    if (records != expectedRecords) {
        return Fail("Not enough SRecords in code section.");
    }
    if (stored == -1) {
        AddAndBreathe(messages, {"Magic number check sum in INI file.  No check done!",
                                 "Calculated CheckSum=" + std::to_string(sum)});
    } else if (sum != stored) {
        return Fail("Code Section check sum does not match!");
    }
    // A pass ends after the first end record: it must be the section's last
    // line, the one Osprey sends last, or records would be left out.
    auto endRecord = std::find_if(lines.begin(), lines.end(), IsEndRecord);
    if (endRecord == lines.end() || endRecord + 1 != lines.end()) {
        return Fail(kNoEndRecordText);
    }
    AddAndBreathe(messages, {"Record count and CheckSum match!", "Code section OK."});
    if (checkedLines != nullptr) {
        *checkedLines = std::move(lines);
    }
    return 0;
}

bool IsEndRecord(const std::string& line) {
    return line.size() >= 2 && line[0] == 'S' && line[1] >= '7' && line[1] <= '9';
}

void ClearInstrumentErrors(InstrumentIO& io) {
    try {
        for (int entry = 0; entry < kMostErrorEntries; ++entry) {
            io.SendQuery("*OPC?");
            io.SendCommand("SYSTem:ERRor?");
            std::vector<std::string> fields;
            io.ReadReply(fields, "K");
            if (ToLong(fields.empty() ? std::string() : fields[0]) == 0) {
                return;
            }
        }
    } catch (const RuntimeError& error) {
        Window().ShowMessage(error.Description(), Buttons::kOk, Icon::kNone, kBoxTitle);
    }
}

void ShowDescription(const std::string& path) {
    try {
        StreamVariable stream = TextStream::OpenTextFile(path);
        UpdateFilePath = path;
        std::string description;
        for (int n = 1;; ++n) {
            std::string value;
            if (GetIniValue(stream, "Description", "Desc " + std::to_string(n), value) == 0)
                break;
            description += value + "\r\n";
        }
        Window().ShowMessage(description, Buttons::kOk, Icon::kInformation, kBoxTitle);
        stream->Close();
    } catch (const RuntimeError& error) {
        Window().ShowMessage(error.Description(), Buttons::kOk, Icon::kCritical, kBoxTitle);
    }
}

}  // namespace kestrel
