// What the instrument finder does the same on every platform: the criteria
// it hands its discovery control, and one probe job run on the process's
// pool.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Discovery.h"
#include "ProbePool.h"
#include "WindowTexts.h"

namespace kestrel {

// Code name "Tessera", the model list holding "KR470A", an empty second list.
inline std::shared_ptr<SearchCriteria> FinderCriteria() {
    auto criteria = std::make_shared<SearchCriteria>();
    criteria->InstrumentCodeName = kFinderCodeName;
    criteria->ModelList = std::make_shared<KeyedCollection>();
    criteria->ModelList->Add(kFinderModel, kFinderModel);
    criteria->SecondList = std::make_shared<KeyedCollection>();
    return criteria;
}

using ProbeReport = std::function<void(size_t index, const ProbeResult& result)>;

// Asks `addresses` on the pool: a single address alone within `timeoutMs`,
// the instruments behind one GPIB controller in turn. `report` gets each
// address's index and result, on the pool's thread; nothing is asked once
// `wanted` says no.
inline void SubmitProbeJob(std::shared_ptr<IOFactory> factory,
                           std::shared_ptr<KeyedCollection> models,
                           std::vector<std::string> addresses, int32_t timeoutMs,
                           StillWanted wanted, ProbeReport report) {
    ProbePool::Shared().Submit([factory = std::move(factory), models = std::move(models),
                                addresses = std::move(addresses), timeoutMs,
                                wanted = std::move(wanted), report = std::move(report)] {
        if (!wanted())
            return;
        if (addresses.size() == 1) {
            report(0, ProbeInstrument(*factory, addresses[0], timeoutMs, models.get(), wanted));
            return;
        }
        ProbeInTurn(*factory, addresses, timeoutMs, models.get(), wanted, report);
    });
}

}  // namespace kestrel
