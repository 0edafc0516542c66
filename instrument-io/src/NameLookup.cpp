#include "NameLookup.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace kio {
namespace {

std::mutex resolverMutex;
Resolver& CurrentResolver() {
    static Resolver resolver;
    return resolver;
}

Resolver TakeResolver() {
    std::lock_guard lock(resolverMutex);
    if (CurrentResolver())
        return CurrentResolver();
    return [](const char* host, const char* port, const addrinfo* hints, addrinfo** found) {
        return getaddrinfo(host, port, hints, found);
    };
}

std::atomic<int> lookupsUnderWay{0};

// What a lookup thread and its caller share; whoever is last frees it.
struct Lookup {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    bool abandoned = false;
    int error = 0;
    addrinfo* found = nullptr;
};

void RunLookup(const std::shared_ptr<Lookup>& lookup, const Resolver& resolver,
               const std::string& host, const std::string& port, addrinfo hints) {
    addrinfo* found = nullptr;
    const int error = resolver(host.c_str(), port.c_str(), &hints, &found);
    std::lock_guard lock(lookup->mutex);
    if (lookup->abandoned) {
        if (found != nullptr)
            freeaddrinfo(found);
    } else {
        lookup->error = error;
        lookup->found = error == 0 ? found : nullptr;
    }
    lookup->done = true;
    --lookupsUnderWay;
    lookup->finished.notify_all();
}

AddressList LookUpName(const std::string& host, const std::string& port, addrinfo hints,
                       uint32_t timeoutMs, std::string& why) {
    if (++lookupsUnderWay > kMostNameLookups) {
        --lookupsUnderWay;
        why = host + ": too many name lookups under way";
        return nullptr;
    }
    auto lookup = std::make_shared<Lookup>();
    try {
        std::thread(RunLookup, lookup, TakeResolver(), host, port, hints).detach();
    } catch (const std::system_error& error) {
        --lookupsUnderWay;
        why = host + ": " + error.what();
        return nullptr;
    }
    std::unique_lock lock(lookup->mutex);
    if (!lookup->finished.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                   [&] { return lookup->done; })) {
        lookup->abandoned = true;
        why = host + ": name lookup timed out";
        return nullptr;
    }
    if (lookup->error != 0) {
        why = host + ": " + gai_strerror(lookup->error);
        return nullptr;
    }
    return AddressList(lookup->found);
}

}  // namespace

void SetResolver(Resolver resolver) {
    std::lock_guard lock(resolverMutex);
    CurrentResolver() = std::move(resolver);
}

AddressList LookUpWithin(const std::string& host, const std::string& port, uint32_t timeoutMs,
                         std::string& why) {
    StartSockets();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const int error = getaddrinfo(host.c_str(), port.c_str(), &hints, &found);
    if (error == 0)
        return AddressList(found);
    if (error != EAI_NONAME) {
        why = host + ": " + gai_strerror(error);
        return nullptr;
    }
    hints.ai_flags = 0;
    return LookUpName(host, port, hints, timeoutMs, why);
}

}  // namespace kio
