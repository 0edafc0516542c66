// Damaged, truncated and hostile update files: the reader and the check must
// end in their messages, never crash or read past a buffer (the suite also
// runs under AddressSanitizer).
#include <gtest/gtest.h>

#include <random>

#include "CodeCheck.h"
#include "ConsoleCapture.h"
#include "Decimal.h"
#include "Description.h"
#include "IniReader.h"
#include "TempFile.h"
#include "UpdateFileBuilder.h"

namespace osprey {
namespace {

std::string Mutate(const std::string& base, std::mt19937& random) {
    std::string text = base;
    std::uniform_int_distribution<int> kind(0, 5);
    auto position = [&](size_t size) {
        return std::uniform_int_distribution<size_t>(0, size)(random);
    };
    switch (kind(random)) {
        case 0:  // truncated anywhere
            text.resize(position(text.size()));
            break;
        case 1:  // bytes of any value, NUL and bytes above 127 included
            for (int i = 0; i < 20 && !text.empty(); ++i) {
                text[position(text.size() - 1)] = static_cast<char>(random());
            }
            break;
        case 2:  // a very long line
            text.insert(position(text.size()),
                        std::string(position(3000), static_cast<char>('A' + random() % 26)));
            break;
        case 3:  // line ends changed
            for (char& c : text) {
                if (c == '\n' && random() % 3 == 0)
                    c = '\r';
            }
            break;
        case 4:  // pure noise
            text.assign(position(2000), '\0');
            for (char& c : text)
                c = static_cast<char>(random());
            break;
        default:  // sections and keys duplicated or cut
            text.insert(position(text.size()), "[Code]\nChecksum=\nDesc 1=\n[Firmware Info]\nS1");
            break;
    }
    return text;
}

TEST(UpdateFileRobustness, RandomAndTruncatedFilesEndInMessagesOnly) {
    kr470::UpdateFileInput input;
    input.records = kr470::GenerateImage(40 * 32, 5, "KR470A 1.05");
    input.revision = "1.05";
    input.description = {"one", "two"};
    const std::string base = kr470::BuildUpdateFile(input);
    std::mt19937 random(20261207);
    testsupport::TempDir dir;
    testing::ConsoleCapture capture;
    for (int i = 0; i < 3000; ++i) {
        std::string path = dir.Write("fuzz.ini", Mutate(base, random));
        TextFile file;
        ASSERT_TRUE(file.Open(path.c_str()));
        std::array<char, 30> value{};
        ReadIniValue(file, "Code Info", "Number of Srecs", value);
        int result = VerifyCodeSection(file, DecimalInteger(value.data()));
        EXPECT_TRUE(result == 0 || result == 1);
        PrintDescriptionLines(file);
        std::array<char*, 4> slots{};
        EXPECT_LE(SplitFields(value.data(), slots, ","), 4);
    }
}

}  // namespace
}  // namespace osprey
