// The command line: the safe defaults, the policy flags, and the refusals.
#include <gtest/gtest.h>

#include "FleetOptions.h"

namespace fleet {
namespace {

bool Parse(std::vector<std::string> words, FleetOptions& options, std::string& error) {
    words.insert(words.begin(), "kr470-fleet");
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    return ParseOptions(static_cast<int>(words.size()), argv.data(), options, error);
}

TEST(OptionsTest, DefaultsAreTheSafeAnswers) {
    FleetOptions options;
    std::string error;
    ASSERT_TRUE(Parse({"-f", "fw.ini", "ASRL1", "ASRL2"}, options, error)) << error;
    EXPECT_FALSE(options.policy.yesSameRevision);
    EXPECT_FALSE(options.policy.yesOlderUpdate);
    EXPECT_EQ(options.policy.retryPasses, 0);
    EXPECT_TRUE(options.policy.strictChecking);
    EXPECT_FALSE(options.policy.dryRun);
    EXPECT_EQ(options.policy.replyTimeoutMs, 0);  // the procedure's own
    EXPECT_EQ(options.policy.logFolder, "fleet-logs");
    EXPECT_EQ(options.jobs, 0u);  // one per port or host
    EXPECT_EQ(options.addresses, (std::vector<std::string>{"ASRL1", "ASRL2"}));
}

TEST(OptionsTest, DefaultJobsAreOnePerHostUpToSixtyFour) {
    FleetOptions options;
    EXPECT_EQ(JobsToRun(options, 3), 3u);
    EXPECT_EQ(JobsToRun(options, 1000), 64u);  // not a thread for each of 1000 hosts
    options.jobs = 200;
    EXPECT_EQ(JobsToRun(options, 1000), 200u);  // asked for: taken as it is
}

TEST(OptionsTest, PolicyFlagsAndSettingsAreTaken) {
    FleetOptions options;
    std::string error;
    ASSERT_TRUE(Parse({"--plan", "lab.plan", "--yes-same-revision", "--yes-older-update",
                       "--retry-passes", "2", "--no-strict", "-n", "-j", "4", "--reply-timeout-ms",
                       "1500", "--log-dir", "logs", "--json", "r.json"},
                      options, error))
        << error;
    EXPECT_TRUE(options.policy.yesSameRevision && options.policy.yesOlderUpdate);
    EXPECT_EQ(options.policy.retryPasses, 2);
    EXPECT_FALSE(options.policy.strictChecking);
    EXPECT_TRUE(options.policy.dryRun);
    EXPECT_EQ(options.jobs, 4u);
    EXPECT_EQ(options.policy.replyTimeoutMs, 1500);
    EXPECT_EQ(options.policy.logFolder, "logs");
    EXPECT_EQ(options.jsonFile, "r.json");
}

TEST(OptionsTest, RefusesWhatCannotBeRun) {
    auto refusal = [](std::vector<std::string> words) {
        FleetOptions options;
        std::string error;
        return Parse(std::move(words), options, error) ? std::string("(accepted)") : error;
    };
    EXPECT_EQ(refusal({"--plan", "p", "-f", "fw.ini", "ASRL1"}),
              "give either --plan or --update-file with addresses, not both");
    EXPECT_EQ(refusal({"-f", "fw.ini"}), "--update-file needs at least one address");
    EXPECT_EQ(refusal({"ASRL1"}),
              "nothing to update: give --plan FILE, or --update-file FILE and addresses");
    EXPECT_EQ(refusal({"-p", "p", "-j", "0"}), "--jobs takes a number from 1 to 1000, not '0'");
    EXPECT_EQ(refusal({"-p", "p", "--retry-passes", "-1"}),
              "--retry-passes takes a number from 0 to 1000, not '-1'");
    EXPECT_EQ(refusal({"-p", "p", "--log-dir", ""}), "--log-dir needs a folder");
    EXPECT_EQ(refusal({"-p", "p", "--yes"}), "unknown option or missing value: --yes");
}

}  // namespace
}  // namespace fleet
