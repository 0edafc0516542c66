#include "SRecord.h"

#include <cstdio>

namespace kr470 {
namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

bool Fail(std::string* why, const char* text) {
    if (why != nullptr) {
        *why = text;
    }
    return false;
}

bool DecodeBytes(std::string_view hex, std::vector<uint8_t>& bytes, std::string* why) {
    if (hex.size() % 2 != 0) {
        return Fail(why, "odd number of hexadecimal digits");
    }
    bytes.clear();
    for (size_t i = 0; i < hex.size(); i += 2) {
        int high = HexValue(hex[i]);
        int low = HexValue(hex[i + 1]);
        if (high < 0 || low < 0) {
            return Fail(why, "not a hexadecimal digit");
        }
        bytes.push_back(static_cast<uint8_t>(high * 16 + low));
    }
    return true;
}

}  // namespace

int AddressBytes(int type) {
    switch (type) {
        case 0:
        case 1:
        case 5:
        case 9:
            return 2;
        case 2:
        case 6:
        case 8:
            return 3;
        case 3:
        case 7:
            return 4;
        default:
            return 0;
    }
}

std::optional<SRecord> DecodeSRecord(std::string_view line, std::string* why) {
    if (line.size() < 4 || line[0] != 'S' || line[1] < '0' || line[1] > '9') {
        Fail(why, "does not begin with S and a record type");
        return std::nullopt;
    }
    SRecord record;
    record.type = line[1] - '0';
    int addressBytes = AddressBytes(record.type);
    if (addressBytes == 0) {
        Fail(why, "unknown record type");
        return std::nullopt;
    }
    std::vector<uint8_t> bytes;
    if (!DecodeBytes(line.substr(2), bytes, why)) {
        return std::nullopt;
    }
    if (bytes.empty() || bytes[0] != bytes.size() - 1) {
        Fail(why, "byte count does not match the record's length");
        return std::nullopt;
    }
    if (bytes.size() < static_cast<size_t>(addressBytes) + 2) {
        Fail(why, "record too short for its address");
        return std::nullopt;
    }
    unsigned sum = 0;
    for (size_t i = 0; i + 1 < bytes.size(); ++i) {
        sum += bytes[i];
    }
    if (static_cast<uint8_t>(~sum) != bytes.back()) {
        Fail(why, "record checksum is wrong");
        return std::nullopt;
    }
    for (int i = 0; i < addressBytes; ++i) {
        record.address = (record.address << 8) | bytes[1 + static_cast<size_t>(i)];
    }
    record.data.assign(bytes.begin() + 1 + addressBytes, bytes.end() - 1);
    return record;
}

std::string EncodeSRecord(const SRecord& record) {
    int addressBytes = AddressBytes(record.type);
    std::vector<uint8_t> bytes;
    bytes.push_back(static_cast<uint8_t>(addressBytes + record.data.size() + 1));
    for (int i = addressBytes - 1; i >= 0; --i) {
        bytes.push_back(static_cast<uint8_t>(record.address >> (8 * i)));
    }
    bytes.insert(bytes.end(), record.data.begin(), record.data.end());
    unsigned sum = 0;
    for (uint8_t b : bytes) {
        sum += b;
    }
    bytes.push_back(static_cast<uint8_t>(~sum));
    std::string text = "S" + std::to_string(record.type);
    char hex[3];
    for (uint8_t b : bytes) {
        std::snprintf(hex, sizeof hex, "%02X", b);
        text += hex;
    }
    return text;
}

void CodeChecksum::Add(const SRecord& record) {
    if (!IsDataType(record.type)) {
        return;
    }
    for (uint8_t b : record.data) {
        sum_ = (sum_ + b) & 0x7fffffffu;
    }
}

}  // namespace kr470
