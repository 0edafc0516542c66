// Runs a test's code with the process in a locale that writes numbers with a
// decimal comma, as a desk set to German or French does, and puts the locale
// back afterwards.
#pragma once

#include <clocale>
#include <cstring>
#include <string>
#include <vector>

namespace testsupport {

// The comma-decimal locales an update must not care about: on Linux
// scripts/setup.sh generates them; Windows (and Wine) has them under these names.
#ifdef _WIN32
inline const std::vector<std::string> kCommaLocales = {"German_Germany.1252", "French_France.1252"};
#else
inline const std::vector<std::string> kCommaLocales = {"de_DE.UTF-8", "fr_FR.UTF-8"};
#endif

class CommaLocale {
  public:
    // Switches every category to `name`; Active() says whether that worked and
    // the locale really writes a comma.
    explicit CommaLocale(const std::string& name) : before_(std::setlocale(LC_ALL, nullptr)) {
        active_ = std::setlocale(LC_ALL, name.c_str()) != nullptr &&
                  std::strcmp(std::localeconv()->decimal_point, ",") == 0;
    }
    ~CommaLocale() { std::setlocale(LC_ALL, before_.c_str()); }
    CommaLocale(const CommaLocale&) = delete;
    CommaLocale& operator=(const CommaLocale&) = delete;

    bool Active() const { return active_; }

  private:
    std::string before_;
    bool active_ = false;
};

}  // namespace testsupport
