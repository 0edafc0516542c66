#include "Options.h"

#include <gtest/gtest.h>

#include <vector>

namespace osprey {
namespace {

struct Parsed {
    int letter;
    std::string argument;
};

std::vector<Parsed> ParseAll(std::vector<const char*> words) {
    words.insert(words.begin(), "Osprey");
    ResetOptions();
    std::vector<Parsed> results;
    for (;;) {
        int letter = NextOption(static_cast<int>(words.size()), words.data(), kOptionLetters);
        results.push_back({letter, optionArgument ? optionArgument : "<none>"});
        if (letter <= 0) {
            return results;
        }
    }
}

TEST(NextOption, SwitchCharacterIsOptionalAndTheArgumentMayBeJoinedOrSeparate) {
    for (auto words : std::vector<std::vector<const char*>>{
             {"/Ffirmware.ini"}, {"/F", "firmware.ini"}, {"-Ffirmware.ini"}, {"Ffirmware.ini"}}) {
        auto results = ParseAll(words);
        ASSERT_EQ(results.size(), 2u);
        EXPECT_EQ(results[0].letter, 'F');
        EXPECT_EQ(results[0].argument, "firmware.ini");
        EXPECT_EQ(results[1].letter, -1);
    }
}

TEST(NextOption, AnOptionArgumentMayLookLikeAnOption) {
    auto results = ParseAll({"/F", "/C"});
    EXPECT_EQ(results[0].letter, 'F');
    EXPECT_EQ(results[0].argument, "/C");
    EXPECT_EQ(results[1].letter, -1);
}

TEST(NextOption, InvalidWordsAndMissingArgumentsGiveZero) {
    for (auto words : std::vector<std::vector<const char*>>{
             {"/F"}, {"/f"}, {"/X"}, {""}, {"/"}, {"-"}, {"/A"}}) {
        EXPECT_EQ(ParseAll(words).front().letter, 0) << words[0];
    }
    EXPECT_EQ(ParseAll({"/?"}).front().letter, '?');
    EXPECT_EQ(ParseAll({"/H"}).front().letter, 'H');
}

TEST(NextOption, RestOfAWordIsIgnoredForLettersWithoutArgument) {
    auto results = ParseAll({"/Cxyz", "COM2", "/L"});
    EXPECT_EQ(results[0].letter, 'C');
    EXPECT_EQ(results[1].letter, 'C');  // COM2 without a switch character is option C
    EXPECT_EQ(results[2].letter, 'L');
    EXPECT_EQ(results[3].letter, -1);
}

TEST(NextOption, ZeroDoesNotAdvanceAndMinusOneWhenNoWordsRemain) {
    ResetOptions();
    const char* words[] = {"Osprey", "/Z"};
    EXPECT_EQ(NextOption(2, words, kOptionLetters), 0);
    EXPECT_EQ(optionIndex, 1);
    const char* none[] = {"Osprey"};
    ResetOptions();
    EXPECT_EQ(NextOption(1, none, kOptionLetters), -1);
}

}  // namespace
}  // namespace osprey
