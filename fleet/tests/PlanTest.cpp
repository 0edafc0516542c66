// The plan file: rows, comments, quoting, and the refusals with file and line.
#include <gtest/gtest.h>

#include "Plan.h"
#include "TempFile.h"

namespace fleet {
namespace {

std::string Refusal(std::string_view text) {
    try {
        ParsePlan(text, "lab.plan", "");
    } catch (const PlanError& error) {
        return error.what();
    }
    return "(accepted)";
}

TEST(PlanTest, ReadsRowsCommentsQuotesAndSerials) {
    std::vector<PlanRow> rows = ParsePlan(
        "# bench 3\r\n"
        "\n"
        "ASRL1::INSTR   KR470A_105.INI   SN470001   # the left one\r\n"
        "\t\"ASRL/dev/serial/by-id/usb-Lab Adapter-if00::INSTR\" /srv/fw/KR470A_105.INI\n"
        "\"TCPIP0::10.0.0.9::5025::SOCKET\" \"new \\\"fw\\\" \\\\ 1.ini\"#no blank needed\n",
        "lab.plan", "/plans");
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].address, "ASRL1::INSTR");
    EXPECT_EQ(rows[0].updateFile, "/plans/KR470A_105.INI");  // beside the plan
    EXPECT_EQ(rows[0].expectedSerial, "SN470001");
    EXPECT_EQ(rows[0].origin, "lab.plan:3");
    EXPECT_EQ(rows[1].address, "ASRL/dev/serial/by-id/usb-Lab Adapter-if00::INSTR");
    EXPECT_EQ(rows[1].updateFile, "/srv/fw/KR470A_105.INI");  // absolute: as written
    EXPECT_EQ(rows[1].expectedSerial, "");
    EXPECT_EQ(rows[2].updateFile, "/plans/new \"fw\" \\ 1.ini");
    EXPECT_EQ(rows[2].origin, "lab.plan:5");
}

TEST(PlanTest, ByteOrderMarkOfAnEditorIsNoPartOfTheFirstAddress) {
    std::vector<PlanRow> rows = ParsePlan(
        "\xEF\xBB\xBF"
        "ASRL1::INSTR fw.ini\r\nASRL2::INSTR fw.ini\r\n",
        "lab.plan", "");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].address, "ASRL1::INSTR");
    EXPECT_EQ(rows[0].origin, "lab.plan:1");
}

TEST(PlanTest, RefusesBrokenRowsNamingFileAndLine) {
    EXPECT_EQ(Refusal("ASRL1 a.ini\n\"ASRL2 b.ini\n"),
              "lab.plan:2: the quote opened in field 1 is never closed");
    EXPECT_EQ(Refusal("# only\nASRL1\n"), "lab.plan:2: a row needs an address and an update file");
    EXPECT_EQ(Refusal("ASRL1 a.ini SN1 extra\n"),
              "lab.plan:1: a row has at most three fields (address, update file, serial "
              "number), this one has 4");
    EXPECT_EQ(Refusal("ASRL1 a\"b.ini\n"),
              "lab.plan:1: a quote inside field 2; quote the whole field instead");
    EXPECT_EQ(Refusal("\"ASRL1\"x a.ini\n"),
              "lab.plan:1: a blank must follow the closing quote of field 1");
    EXPECT_EQ(Refusal("\"\" a.ini\n"), "lab.plan:1: an empty field (\"\") names nothing");
    EXPECT_EQ(Refusal("# nothing\n\n"), "lab.plan:2: the plan names no instrument");
}

TEST(PlanTest, PlanFileIsReadBesideItsFolderAndMustBeARegularFile) {
    testsupport::TempDir dir;
    std::string path = dir.Write("lab.plan", "ASRL1 fw.ini\n");
    std::vector<PlanRow> rows = ReadPlanFile(path);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].updateFile, (dir.Path() / "fw.ini").string());
    EXPECT_EQ(rows[0].origin, path + ":1");
    EXPECT_THROW(ReadPlanFile((dir.Path() / "none.plan").string()), PlanError);
    EXPECT_THROW(ReadPlanFile(dir.Path().string()), PlanError);  // a folder
}

TEST(PlanTest, AddressesShareTheOneUpdateFile) {
    std::vector<PlanRow> rows = PlanFromAddresses({"ASRL1", "ASRL2"}, "fw.ini");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].address, "ASRL2");
    EXPECT_EQ(rows[1].updateFile, "fw.ini");
    EXPECT_EQ(rows[1].origin, "address 2");
}

}  // namespace
}  // namespace fleet
