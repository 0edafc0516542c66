// One whole plug-in update over an instrument-I/O address, with a window that
// answers Yes to every question and shows nothing. The simulator's figures
// (--stats on) measure it. Normal mode unless "strict" is given ("normal" may be said).
// Usage: bench-plugin-update ADDRESS UPDATE_FILE [normal|strict]
#include <cstdio>
#include <cstring>
#include <string>

#include "InstrumentIO.h"
#include "RuntimeError.h"
#include "WindowHooks.h"
#include "modGlobals.h"

namespace {

class QuietWindow final : public kestrel::WindowServices,
                          public kestrel::MessageList,
                          public kestrel::ProgressBar {
  public:
    kestrel::Answer ShowMessage(const std::string& text, kestrel::Buttons, kestrel::Icon,
                                const std::string&) override {
        last = text;
        return kestrel::Answer::kYes;
    }
    void Breathe() override {}
    void AddLine(const std::string&) override {}
    void Redraw() override {}
    void SetMinimum(int) override {}
    void SetMaximum(int value) override { maximum_ = value; }
    int Maximum() const override { return maximum_; }
    void SetValue(int) override {}
    std::string last;  // the last box, which says how it ended

  private:
    int maximum_ = 100;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) {
        std::fprintf(stderr, "usage: bench-plugin-update ADDRESS UPDATE_FILE [normal|strict]\n");
        return 2;
    }
    QuietWindow window;
    kestrel::SetWindowServices(&window);
    kestrel::StrictChecking = argc == 4 && std::strcmp(argv[3], "strict") == 0 ? 1 : 0;
    std::string path = argv[2];
    try {
        std::unique_ptr<kestrel::InstrumentIO> io =
            kestrel::CreateIOFactory()->OpenInstrument(argv[1]);
        if (kestrel::UpdateFirmware(path, *io, window, window) == kestrel::kUpdateCommitted)
            return 0;
    } catch (const kestrel::RuntimeError& error) {
        window.last = error.Description();
    }
    std::fprintf(stderr, "bench-plugin-update: %s\n", window.last.c_str());
    return 1;
}
