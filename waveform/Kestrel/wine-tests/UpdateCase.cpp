#include "UpdateCase.h"

#include <algorithm>
#include <charconv>

namespace kestrel::e2e {
namespace {

std::optional<Reply> ReplyNamed(std::string_view name) {
    for (Reply reply : {Reply::kOk, Reply::kCancel, Reply::kYes, Reply::kNo}) {
        if (ReplyName(reply) == name)
            return reply;
    }
    return std::nullopt;
}

bool ParseAnswers(std::string_view list, std::vector<Reply>& answers) {
    while (!list.empty()) {
        size_t comma = std::min(list.find(','), list.size());
        std::optional<Reply> reply = ReplyNamed(list.substr(0, comma));
        if (!reply)
            return false;
        answers.push_back(*reply);
        list.remove_prefix(std::min(comma + 1, list.size()));
    }
    return true;
}

// The box's way out when the script says nothing usable: No, else Cancel, else OK.
Reply WayOut(std::span<const Reply> offered) {
    for (Reply reply : {Reply::kNo, Reply::kCancel, Reply::kOk}) {
        if (std::find(offered.begin(), offered.end(), reply) != offered.end())
            return reply;
    }
    return Reply::kOk;
}

}  // namespace

const char* const kCaseUsage =
    "options: --address ADDRESS --file UPDATE_FILE --boxes RECORD [--strict on|off]\n"
    "         [--answers yes,no,ok,cancel] [--deadline SECONDS] [--dll KESTREL_DLL]\n";

std::string_view ReplyName(Reply reply) {
    switch (reply) {
        case Reply::kOk:
            return "ok";
        case Reply::kCancel:
            return "cancel";
        case Reply::kYes:
            return "yes";
        case Reply::kNo:
            return "no";
    }
    return "?";
}

std::optional<CaseOptions> ParseCaseOptions(std::span<char* const> args, std::string& error) {
    CaseOptions options;
    for (size_t i = 0; i < args.size(); i += 2) {
        std::string_view name = args[i];
        if (i + 1 == args.size()) {
            error = std::string(name) + " needs a value";
            return std::nullopt;
        }
        std::string_view value = args[i + 1];
        if (name == "--address") {
            options.address = value;
        } else if (name == "--file") {
            options.file = value;
        } else if (name == "--boxes") {
            options.boxes = value;
        } else if (name == "--dll") {
            options.dll = value;
        } else if (name == "--strict" && (value == "on" || value == "off")) {
            options.strict = value == "on";
        } else if (name == "--answers" && ParseAnswers(value, options.answers)) {
        } else if (name == "--deadline" &&
                   std::from_chars(value.data(), value.data() + value.size(),
                                   options.deadlineSeconds)
                           .ptr == value.data() + value.size() &&
                   options.deadlineSeconds > 0) {
        } else {
            error = "cannot take " + std::string(name) + " " + std::string(value);
            return std::nullopt;
        }
    }
    if (options.address.empty() || options.file.empty() || options.boxes.empty()) {
        error = "--address, --file and --boxes are needed";
        return std::nullopt;
    }
    return options;
}

std::string EscapeControls(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '\r':
                out += "\\r";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\\':
                out += "\\\\";
                break;
            default:
                out += c;
        }
    }
    return out;
}

BoxAnswerer::BoxAnswerer(std::vector<Reply> script, const std::string& recordPath)
    : script_(std::move(script)), record_(recordPath, std::ios::binary | std::ios::trunc) {}

Reply BoxAnswerer::Answer(const std::string& title, const std::string& text,
                          std::span<const Reply> offered) {
    std::optional<Reply> reply;
    if (next_ < script_.size()) {
        reply = script_[next_++];
        if (std::find(offered.begin(), offered.end(), *reply) == offered.end()) {
            failure_ += "box " + std::to_string(next_) + " offers no " +
                        std::string(ReplyName(*reply)) + "; ";
            reply.reset();
        }
    } else {
        failure_ += "box " + std::to_string(next_ + 1) + " is past the script's answers; ";
    }
    Reply pressed = reply.value_or(WayOut(offered));
    // Flushed at once: a run that hangs later still shows how far it came.
    record_ << EscapeControls(title) << '\t' << EscapeControls(text) << '\t'
            << (reply ? ReplyName(pressed) : "<unscripted>") << '\n'
            << std::flush;
    return pressed;
}

std::string BoxAnswerer::Failure() const {
    if (next_ < script_.size()) {
        return failure_ + std::to_string(script_.size() - next_) + " scripted answer(s) unused";
    }
    return failure_;
}

}  // namespace kestrel::e2e
