#include "Discovery.h"

#include <algorithm>
#include <exception>

#include <kio/Session.h>

#include "RuntimeError.h"
#include "Text.h"
#include "modGlobals.h"

namespace kestrel {
namespace {

void AddOnce(std::vector<std::string>& addresses, const std::string& address) {
    if (std::find(addresses.begin(), addresses.end(), address) == addresses.end())
        addresses.push_back(address);
}

class DeferredIO final : public InstrumentIO {
  public:
    DeferredIO(std::shared_ptr<IOFactory> factory, std::string address)
        : factory_(std::move(factory)), address_(std::move(address)) {}

    std::string GetAddress() override { return address_; }
    void ReadReply(std::string& reply, const std::string& format) override {
        Io().ReadReply(reply, format);
    }
    void ReadReply(std::vector<std::string>& fields, const std::string& format) override {
        Io().ReadReply(fields, format);
    }
    std::string GetInterfaceKind() override { return Io().GetInterfaceKind(); }
    void SendCommand(const std::string& command) override { Io().SendCommand(command); }
    std::string SendQuery(const std::string& query) override { return Io().SendQuery(query); }
    void SetTimeout(int32_t milliseconds) override { Io().SetTimeout(milliseconds); }

  private:
    InstrumentIO& Io() {
        if (!io_)
            io_ = factory_->OpenInstrument(address_);
        return *io_;
    }
    std::shared_ptr<IOFactory> factory_;
    std::string address_;
    std::unique_ptr<InstrumentIO> io_;
};

// The board ("GPIB0") of an instrument address behind a GPIB controller, or "".
std::string GpibBoardOf(const std::string& address) {
    const std::string lower = Lower(address);
    if (!StartsWith(lower, "gpib"))
        return "";
    const size_t separator = lower.find("::");
    if (separator == std::string::npos)
        return "";
    const std::string number = lower.substr(4, separator - 4);
    if (!std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return "";
    return "GPIB" + (number.empty() ? std::string("0") : number);
}

// The model (field 1 of the reply) and whether the criteria list it.
void Identify(ProbeResult& result, const KeyedCollection* models) {
    std::vector<std::string> fields;
    SplitText(result.identification, ",", fields);
    if (fields.size() > 1)
        result.model = fields[1];
    result.supported = models != nullptr && !result.model.empty() && models->Contains(result.model);
}

}  // namespace

void KeyedCollection::Add(const std::string& item, const std::string& key) {
    for (const auto& entry : entries_) {
        if (Lower(entry.first) == Lower(key))
            throw RuntimeError(457,
                               "This key is already associated with an element of this "
                               "collection");
    }
    entries_.emplace_back(key, item);
}

bool KeyedCollection::Contains(const std::string& item) const {
    return std::any_of(entries_.begin(), entries_.end(),
                       [&](const auto& entry) { return entry.second == item; });
}

SearchList FindSearchList(const std::filesystem::path& dev, const std::filesystem::path& sys) {
    SearchList list;
    for (const std::string& configured : kio::ConfiguredAddresses(&list.problems))
        AddOnce(list.asked, configured);
    for (const std::string& port : SerialPortAddresses(dev, sys)) {
        if (std::find(list.asked.begin(), list.asked.end(), port) == list.asked.end())
            list.listed.push_back(port);
    }
    return list;
}

std::vector<std::vector<size_t>> ProbeJobs(const std::vector<std::string>& addresses) {
    std::vector<std::vector<size_t>> jobs;
    std::vector<std::pair<std::string, size_t>> boards;  // board, its job
    for (size_t i = 0; i < addresses.size(); ++i) {
        const std::string board = GpibBoardOf(addresses[i]);
        if (board.empty()) {
            jobs.push_back({i});
            continue;
        }
        auto found = std::find_if(boards.begin(), boards.end(),
                                  [&](const auto& entry) { return entry.first == board; });
        if (found != boards.end()) {
            jobs[found->second].push_back(i);
        } else {
            boards.emplace_back(board, jobs.size());
            jobs.push_back({i});
        }
    }
    return jobs;
}

ProbeResult ProbeInstrument(IOFactory& factory, const std::string& address, int32_t timeoutMs,
                            const KeyedCollection* models, const StillWanted& wanted) {
    ProbeResult result;
    try {
        std::unique_ptr<InstrumentIO> io = factory.OpenInstrumentWithin(address, timeoutMs);
        if (wanted && !wanted())
            return result;
        io->SetTimeout(timeoutMs);
        result.identification = io->SendQuery("*IDN?");
    } catch (const RuntimeError& error) {
        result.error = error.Description();
        return result;
    } catch (const std::exception& error) {
        // A probe runs on a thread of the host's process: no thread for a
        // connection's watcher, say, is this address's answer, never the host's end.
        result.error = error.what();
        return result;
    }
    Identify(result, models);
    return result;
}

void ProbeInTurn(IOFactory& factory, const std::vector<std::string>& addresses,
                 int32_t openTimeoutMs, const KeyedCollection* models, const StillWanted& wanted,
                 const std::function<void(size_t, const ProbeResult&)>& report) {
    // Held until the next address is open, so the controller's connection
    // serves every round instead of being opened for each.
    std::unique_ptr<InstrumentIO> last;
    for (size_t i = 0; i < addresses.size(); ++i) {
        if (wanted && !wanted())
            return;
        ProbeResult result;
        bool controllerGone = false;
        try {
            std::unique_ptr<InstrumentIO> io =
                factory.OpenInstrumentWithin(addresses[i], openTimeoutMs);
            last = std::move(io);
            if (wanted && !wanted())
                return;
            last->SetTimeout(kGpibRoundTimeoutMs);
            result.identification = last->SendQuery("*IDN?");
            Identify(result, models);
        } catch (const ReplyTimeout& error) {
            result.error = error.Description();
        } catch (const RuntimeError& error) {
            result.error = error.Description();
            controllerGone = true;
        } catch (const std::exception& error) {
            result.error = error.what();
            controllerGone = true;
        }
        report(i, result);
        if (controllerGone) {
            for (size_t rest = i + 1; rest < addresses.size(); ++rest) {
                ProbeResult skipped;
                skipped.error = "not asked: " + addresses[i] + " failed";
                report(rest, skipped);
            }
            return;
        }
    }
}

std::shared_ptr<InstrumentIO> MakeDeferredIO(std::shared_ptr<IOFactory> factory,
                                             const std::string& address) {
    return std::make_shared<DeferredIO>(std::move(factory), address);
}

}  // namespace kestrel
