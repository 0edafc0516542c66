// The simulated KR470A: the command dialogue of a real instrument, with
// faults that tests and rehearsals switch on from the command line. It knows
// nothing of the line it sits on; the program feeds it one line at a time
// and calls Reset for a new connection.
//
// Its states: normal firmware; download mode (after "dlo:start" with the
// right start token, until "dlo:comp"), which its loader runs, so "*IDN?"
// then names the loader; and loader firmware, where a download that was
// interrupted leaves it at the next reset ("*RST", "SYST:REM" or a new
// connection): the old image is gone, "*IDN?" gives a model beginning with
// "loader" and "dlo:csum?" a fresh start token. A committed download is
// normal firmware again, at the new revision.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "SRecord.h"

namespace kr470 {

// A command head ("*STB?", "DLO:STAT?") and which of its occurrences it
// names: 0 for all of them, else the n-th (from 1).
struct Trigger {
    std::string head;
    int occurrence = 0;
};

struct InstrumentOptions {
    std::string identification = "Velmora,KR470A,SN470001,1.04-2.10-0.9";
    std::vector<std::string> errors;            // initial error queue, "number,text"
    std::string installedChecksum = "0012345";  // "dlo:csum?" before download mode
    std::string newRevision;                    // after a commit; else from the S0 header
    std::string modelAfterLoader = "KR470A";    // model once a loader instrument committed
    int32_t statStart = 0;                      // where the running received count starts
    std::optional<int32_t> expectedRecords;     // else the S5 count, else what a pass received

    // Faults. Lines are counted from 1 within each pass.
    std::map<int, int> refuseLine;                    // line -> how many times to refuse it
    std::map<int, int> dropLine;                      // line -> how many times it is lost
    std::vector<int> badChecksumPasses;               // passes whose checksum is reported wrong
    std::multimap<int, std::string> errorsAfterPass;  // pass -> error queued at its "*OPC?"
    std::vector<Trigger> silentOn;                    // commands left unanswered
    std::vector<Trigger> hangUpOn;                    // commands on which the line drops
    int hangUpAfterRecords = 0;                       // 0: never
    bool stuckInDownload = false;  // a reset leaves download mode and its pass as they were
};

struct Response {
    std::optional<std::string> reply;  // one line, without its LF
    bool hangUp = false;
};

class Instrument {
  public:
    explicit Instrument(InstrumentOptions options);

    Response Handle(const std::string& line);

    // The instrument restarts: a new connection, "*RST", or "SYST:REM" in
    // download mode. Download mode falls back to the loader (unless stuck).
    void Reset();

    // What tests and the demo look at afterwards.
    bool Committed() const { return commits_ > 0; }
    bool InDownloadMode() const { return state_ == State::kDownload; }
    bool InLoader() const { return state_ == State::kLoader; }
    int Passes() const { return pass_; }
    const std::string& Identification() const { return identification_; }
    uint32_t PassChecksum() const { return passChecksum_.Value(); }
    int RecordsReceived() const { return recordsTotal_; }

  private:
    enum class State { kNormal, kLoader, kDownload };

    Response Dispatch(const std::string& head, const std::string& argument, bool isQuery);
    bool Matches(const std::vector<Trigger>& triggers, const std::string& head) const;
    std::string PopError();
    void QueueError(const std::string& error) { errors_.push_back(error); }
    // Returns whether the record was taken.
    bool TakeRecord(const std::string& argument, bool isQuery);
    std::string ChecksumReply() const;
    std::string StatReply() const;
    // The S5 count of the image, unless the command line says otherwise.
    int32_t ExpectedRecords() const;
    void Commit(const std::string& argument);
    void Start(const std::string& token);
    std::string LoaderIdentification() const;

    InstrumentOptions options_;
    std::string identification_;
    std::deque<std::string> errors_;
    std::map<std::string, int> seen_;  // occurrences of each command head
    std::string installedChecksum_;
    bool remote_ = false;
    State state_ = State::kNormal;
    std::string startToken_;  // the loader's, handed out by "dlo:csum?"
    int resets_ = 0;
    bool passOpen_ = false;
    int pass_ = 0;
    int lineInPass_ = 0;
    int recordsTotal_ = 0;       // every record line taken, for the hang-up fault
    int32_t receivedCount_ = 0;  // running count of data records ("dlo:stat?" field 0)
    int32_t passDataRecords_ = 0;
    std::optional<int32_t> s5Count_;
    std::string headerText_;
    std::string lastRefused_;  // a resend of it is the same line again
    CodeChecksum passChecksum_;
    int commits_ = 0;
};

}  // namespace kr470
