#include "Instrument.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "TextRules.h"

namespace kr470 {
namespace {

using fileio::Upper;

using fileio::Trim;

// The text between the first pair of double quotes, if there is one.
std::optional<std::string> Quoted(const std::string& argument) {
    size_t open = argument.find('"');
    size_t close = open == std::string::npos ? open : argument.find('"', open + 1);
    if (close == std::string::npos) {
        return std::nullopt;
    }
    return argument.substr(open + 1, close - open - 1);
}

// "SYSTem:ERRor?" and "SYST:ERR?" are the same command: SCPI's short form is
// the upper-case part of the long one.
std::string ShortForm(const std::string& head) {
    static const std::map<std::string, std::string> kLongForms = {
        {"SYSTEM:ERROR?", "SYST:ERR?"},
        {"SYSTEM:REMOTE", "SYST:REM"},
        {"SYSTEM:ERROR:NEXT?", "SYST:ERR?"},
        {"SYST:ERR:NEXT?", "SYST:ERR?"},
    };
    auto found = kLongForms.find(head);
    return found == kLongForms.end() ? head : found->second;
}

std::vector<std::string> SplitAtCommas(const std::string& text) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        size_t comma = text.find(',', start);
        fields.push_back(text.substr(start, comma == std::string::npos ? comma : comma - start));
        if (comma == std::string::npos) {
            return fields;
        }
        start = comma + 1;
    }
}

// Puts `revision` in front of the first '-' of the revisions field.
std::string WithRevision(const std::string& identification, const std::string& revision,
                         const std::string* model) {
    std::vector<std::string> fields = SplitAtCommas(identification);
    while (fields.size() < 4) {
        fields.push_back("");
    }
    if (model != nullptr) {
        fields[1] = *model;
    }
    size_t dash = fields[3].find('-');
    fields[3] = revision + (dash == std::string::npos ? "" : fields[3].substr(dash));
    std::string joined;
    for (size_t i = 0; i < fields.size(); ++i) {
        joined += (i ? "," : "") + fields[i];
    }
    return joined;
}

}  // namespace

Instrument::Instrument(InstrumentOptions options)
    : options_(std::move(options)),
      identification_(options_.identification),
      errors_(options_.errors.begin(), options_.errors.end()),
      installedChecksum_(options_.installedChecksum),
      receivedCount_(options_.statStart) {}

bool Instrument::Matches(const std::vector<Trigger>& triggers, const std::string& head) const {
    auto seen = seen_.find(head);
    int count = seen == seen_.end() ? 0 : seen->second;
    return std::any_of(triggers.begin(), triggers.end(), [&](const Trigger& t) {
        return ShortForm(Upper(t.head)) == head && (t.occurrence == 0 || t.occurrence == count);
    });
}

Response Instrument::Handle(const std::string& line) {
    std::string text = line;
    if (!text.empty() && text.back() == '\r') {
        text.pop_back();
    }
    size_t blank = text.find(' ');
    std::string head = ShortForm(Upper(text.substr(0, blank)));
    std::string argument = blank == std::string::npos ? "" : text.substr(blank + 1);
    ++seen_[head];
    if (Matches(options_.hangUpOn, head)) {
        return Response{std::nullopt, true};
    }
    bool isQuery = !head.empty() && head.back() == '?';
    Response response = Dispatch(head, argument, isQuery);
    if (Matches(options_.silentOn, head)) {
        response.reply.reset();
    }
    if (options_.hangUpAfterRecords > 0 && recordsTotal_ >= options_.hangUpAfterRecords) {
        response.hangUp = true;
    }
    return response;
}

Response Instrument::Dispatch(const std::string& head, const std::string& argument, bool isQuery) {
    Response r;
    if (head == "*IDN?") {
        r.reply = state_ == State::kNormal ? identification_ : LoaderIdentification();
    } else if (head == "SYST:REM") {
        remote_ = true;
        if (state_ == State::kDownload) {
            Reset();  // a new session on the line: the old download is over
        }
    } else if (head == "*RST") {
        Reset();
    } else if (head == "SYST:ERR?") {
        r.reply = PopError();
    } else if (head == "*CLS") {
        errors_.clear();
    } else if (head == "*STB?") {
        r.reply = std::to_string(errors_.empty() ? 0 : 4);  // bit 2: error queue not empty
    } else if (head == "*OPC?") {
        if (state_ == State::kDownload && passOpen_) {
            for (auto [it, end] = options_.errorsAfterPass.equal_range(pass_); it != end; ++it) {
                QueueError(it->second);
            }
        }
        r.reply = "1";
    } else if (head == "DLO:CSUM?") {
        r.reply = ChecksumReply();
    } else if (head == "DLO:STAT?") {
        passOpen_ = false;
        r.reply = StatReply();
    } else if (head == "DLO:START") {
        Start(std::string(Trim(argument)));
    } else if (head == "DLO" || head == "DLO?") {
        bool taken = TakeRecord(argument, isQuery);
        if (isQuery) {
            r.reply = taken ? "0" : "1";
        }
    } else if (head == "DLO:COMP") {
        Commit(std::string(Trim(argument)));
    } else {
        QueueError("-113,\"Undefined header\"");
    }
    return r;
}

std::string Instrument::PopError() {
    if (errors_.empty()) {
        return "+0,\"No error\"";
    }
    std::string error = errors_.front();
    errors_.pop_front();
    return error;
}

void Instrument::Reset() {
    if (state_ == State::kNormal || (state_ == State::kDownload && options_.stuckInDownload)) {
        return;
    }
    // The loader restarts with no valid image and a start token of its own.
    state_ = State::kLoader;
    errors_.clear();
    passOpen_ = false;
    lastRefused_.clear();
    ++resets_;
    std::string number = std::to_string(4700 + resets_);
    startToken_ = std::string(number.size() < 7 ? 7 - number.size() : 0, '0') + number;
}

// Refused at once, before any record: the error is queued and the state kept.
void Instrument::Start(const std::string& token) {
    const std::string& expected = state_ == State::kNormal ? installedChecksum_ : startToken_;
    if (state_ == State::kDownload || token != expected) {
        QueueError("-224,\"Illegal parameter value; wrong start token\"");
        return;
    }
    state_ = State::kDownload;
    passOpen_ = false;
    lastRefused_.clear();
}

std::string Instrument::LoaderIdentification() const {
    std::vector<std::string> fields = SplitAtCommas(identification_);
    if (fields.size() > 1 && Upper(fields[1]).starts_with("LOADER")) {
        return identification_;  // it came as a loader instrument
    }
    std::string model = "loader " + (fields.size() > 1 ? fields[1] : std::string());
    return WithRevision(identification_, "0.00", &model);
}

bool Instrument::TakeRecord(const std::string& argument, bool isQuery) {
    if (state_ != State::kDownload) {
        QueueError("-221,\"Settings conflict; not in download mode\"");
        return false;
    }
    if (!passOpen_) {
        passOpen_ = true;
        ++pass_;
        lineInPass_ = 0;
        passDataRecords_ = 0;
        passChecksum_.Reset();
    }
    if (argument != lastRefused_) {
        ++lineInPass_;
    }
    lastRefused_.clear();
    ++recordsTotal_;
    if (auto drop = options_.dropLine.find(lineInPass_);
        drop != options_.dropLine.end() && drop->second > 0) {
        --drop->second;  // lost on the line: never seen, so nothing is said about it
        return true;
    }
    if (auto refuse = options_.refuseLine.find(lineInPass_);
        refuse != options_.refuseLine.end() && refuse->second > 0) {
        --refuse->second;
        lastRefused_ = argument;
        // A query's answer already says so; a plain record leaves an error behind.
        if (!isQuery) {
            QueueError("-222,\"Data out of range; record refused\"");
        }
        return false;
    }
    std::optional<std::string> text = Quoted(argument);
    std::optional<SRecord> record = text ? DecodeSRecord(*text) : std::nullopt;
    if (!record) {
        lastRefused_ = argument;
        QueueError("-222,\"Data out of range; bad record\"");
        return false;
    }
    if (IsDataType(record->type)) {
        ++receivedCount_;
        ++passDataRecords_;
        passChecksum_.Add(*record);
    } else if (record->type == 5 || record->type == 6) {
        s5Count_ = static_cast<int32_t>(record->address);
    } else if (record->type == 0) {
        headerText_.assign(record->data.begin(), record->data.end());
    }
    return true;
}

std::string Instrument::ChecksumReply() const {
    if (state_ == State::kNormal) {
        return installedChecksum_;
    }
    if (state_ == State::kLoader) {
        return startToken_;
    }
    uint32_t value = passChecksum_.Value();
    if (std::find(options_.badChecksumPasses.begin(), options_.badChecksumPasses.end(), pass_) !=
        options_.badChecksumPasses.end()) {
        value = (value + 1) & 0x7fffffffu;
    }
    return std::to_string(value);
}

int32_t Instrument::ExpectedRecords() const {
    return options_.expectedRecords.value_or(s5Count_.value_or(passDataRecords_));
}

std::string Instrument::StatReply() const {
    return std::to_string(receivedCount_) + "," + std::to_string(ExpectedRecords());
}

void Instrument::Commit(const std::string& argument) {
    if (state_ != State::kDownload || argument.empty() ||
        std::strtoll(argument.c_str(), nullptr, 10) !=
            static_cast<long long>(passChecksum_.Value()) ||
        passDataRecords_ != ExpectedRecords()) {
        QueueError("-200,\"Execution error; image not committed\"");
        return;
    }
    std::string revision = options_.newRevision;
    if (revision.empty()) {
        size_t blank = headerText_.find_last_of(' ');
        revision = blank == std::string::npos ? headerText_ : headerText_.substr(blank + 1);
    }
    std::string model = Upper(identification_).find(",LOADER") != std::string::npos
                            ? options_.modelAfterLoader
                            : std::string();
    identification_ = WithRevision(identification_, revision, model.empty() ? nullptr : &model);
    installedChecksum_ = std::to_string(passChecksum_.Value());
    state_ = State::kNormal;
    ++commits_;
}

}  // namespace kr470
