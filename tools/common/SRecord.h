// Motorola S-records: decoding one line and making one, for the instrument
// simulator and the update-file builder.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kr470 {

struct SRecord {
    int type = 0;               // the digit after 'S'
    uint32_t address = 0;       // or the record count of S5/S6
    std::vector<uint8_t> data;  // the bytes after the address
};

// Address bytes for a record type (S0 2, S1 2, S2 3, S3 4, S5 2, S6 3, S7 4,
// S8 3, S9 2); 0 for a type that does not exist.
int AddressBytes(int type);

// Decodes a record line. Nothing when the line is not well formed or its
// checksum is wrong; `why` then says what is wrong.
std::optional<SRecord> DecodeSRecord(std::string_view line, std::string* why = nullptr);

// The record's text, checksum included.
std::string EncodeSRecord(const SRecord& record);

// True for S1, S2 and S3: the records that carry code.
inline bool IsDataType(int type) {
    return type >= 1 && type <= 3;
}

// The instrument's code checksum: the sum of the data bytes of the S1, S2 and
// S3 records, modulo 2^31, so that it always reads as a signed 32-bit decimal.
class CodeChecksum {
  public:
    void Add(const SRecord& record);
    uint32_t Value() const { return sum_; }
    void Reset() { sum_ = 0; }

  private:
    uint32_t sum_ = 0;
};

}  // namespace kr470
