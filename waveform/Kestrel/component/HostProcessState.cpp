#include "HostProcessState.h"

#include <clocale>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace kestrel {
namespace {

std::map<std::string, std::string> Environment() {
    std::map<std::string, std::string> variables;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const char* equals = std::strchr(*entry, '=');
        if (equals != nullptr)
            variables.emplace(std::string(*entry, static_cast<size_t>(equals - *entry)),
                              equals + 1);
    }
    return variables;
}

bool SameDisposition(const struct sigaction& a, const struct sigaction& b) {
    return a.sa_handler == b.sa_handler && a.sa_flags == b.sa_flags;
}

}  // namespace

HostProcessState::HostProcessState()
    : locale_(std::setlocale(LC_ALL, nullptr)), environment_(Environment()) {
    for (int signal = 1; signal < NSIG; ++signal) {
        struct sigaction action {};
        if (sigaction(signal, nullptr, &action) == 0)
            signals_.emplace_back(signal, action);
    }
}

void HostProcessState::Restore() const {
    std::setlocale(LC_ALL, locale_.c_str());
    for (const auto& [signal, before] : signals_) {
        struct sigaction now {};
        if (sigaction(signal, nullptr, &now) == 0 && !SameDisposition(now, before))
            sigaction(signal, &before, nullptr);
    }
    const std::map<std::string, std::string> now = Environment();
    for (const auto& [name, value] : now) {
        if (!environment_.contains(name))
            unsetenv(name.c_str());
    }
    for (const auto& [name, value] : environment_) {
        auto found = now.find(name);
        if (found == now.end() || found->second != value)
            setenv(name.c_str(), value.c_str(), 1);
    }
}

}  // namespace kestrel
