#include "Confirmation.h"

#include <array>
#include <vector>

#include "Decimal.h"
#include "IniReader.h"
#include "TextFile.h"

namespace osprey {
namespace {

// The fields of an identification that a confirmation compares.
struct IdentityFields {
    std::string model;
    std::string serial;
    std::string revision;  // part 0 of the revisions field
};

std::string Trimmed(std::string_view text) {
    size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        return "";
    }
    size_t last = text.find_last_not_of(" \t\r\n");
    return std::string(text.substr(first, last - first + 1));
}

IdentityFields FieldsOf(std::string_view identification) {
    std::vector<std::string_view> fields;
    for (size_t start = 0;;) {
        size_t comma = identification.find(',', start);
        fields.push_back(identification.substr(start, comma - start));
        if (comma == std::string_view::npos) {
            break;
        }
        start = comma + 1;
    }
    IdentityFields id;
    id.model = fields.size() > 1 ? std::string(fields[1]) : "";
    id.serial = fields.size() > 2 ? Trimmed(fields[2]) : "";
    id.revision = fields.size() > 3 ? Trimmed(fields[3].substr(0, fields[3].find('-'))) : "";
    return id;
}

}  // namespace

std::optional<UpdatePromise> ReadUpdatePromise(const std::string& updateFile) {
    TextFile file;
    if (!file.Open(updateFile.c_str())) {
        return std::nullopt;
    }
    std::array<char, 30> model{};
    std::array<char, 30> revision{};
    ReadIniValue(file, "Firmware Info", "IDN", model);
    ReadIniValue(file, "Firmware Info", "Revision", revision);
    return UpdatePromise{model.data(), revision.data()};
}

std::string ConfirmationFailure(std::string_view before, const std::optional<std::string>& after,
                                const UpdatePromise& promise) {
    if (!after) {
        return "the instrument did not answer \"*IDN?\" after the commit";
    }
    const IdentityFields was = FieldsOf(before);
    const IdentityFields now = FieldsOf(*after);
    if (now.model != promise.model) {
        return "after the commit the instrument identifies as model \"" + now.model +
               "\", not the update's \"" + promise.model + "\"";
    }
    if (now.serial != was.serial) {
        return "after the commit the serial number is \"" + now.serial + "\", not \"" + was.serial +
               "\" as before";
    }
    if (now.revision.empty() || DecimalNumber(now.revision) != DecimalNumber(promise.revision)) {
        const std::string reported =
            now.revision.empty() ? "no revision" : "revision " + now.revision;
        return "after the commit the instrument reports " + reported + ", not the update's " +
               promise.revision;
    }
    return "";
}

}  // namespace osprey
