// One whole plug-in update with no window: every question answered Yes,
// messages and progress dropped. Ends 0 when the update was committed.
// Usage: bench-plugin-update ADDRESS UPDATE_FILE normal|strict
#include <cstdio>
#include <cstring>
#include <string>

#include "InstrumentIO.h"
#include "WindowHooks.h"
#include "modGlobals.h"

namespace {

class NoWindow final : public kestrel::WindowServices,
                       public kestrel::MessageList,
                       public kestrel::ProgressBar {
  public:
    kestrel::Answer ShowMessage(const std::string& text, kestrel::Buttons, kestrel::Icon,
                                const std::string& title) override {
        last_ = title + ": " + text;
        return kestrel::Answer::kYes;
    }
    void Breathe() override {}
    void AddLine(const std::string&) override {}
    void Redraw() override {}
    void SetMinimum(int) override {}
    void SetMaximum(int value) override { maximum_ = value; }
    int Maximum() const override { return maximum_; }
    void SetValue(int) override {}
    const std::string& Last() const { return last_; }

  private:
    int maximum_ = 100;
    std::string last_;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: bench-plugin-update ADDRESS UPDATE_FILE normal|strict\n");
        return 2;
    }
    NoWindow window;
    kestrel::SetWindowServices(&window);
    kestrel::StrictChecking = std::strcmp(argv[3], "strict") == 0 ? 1 : 0;
    std::unique_ptr<kestrel::InstrumentIO> io = kestrel::CreateIOFactory()->OpenInstrument(argv[1]);
    std::string path = argv[2];
    const int32_t result = kestrel::UpdateFirmware(path, *io, window, window);
    kestrel::SetWindowServices(nullptr);
    if (result != kestrel::kUpdateCommitted) {
        std::fprintf(stderr, "update failed: %s\n", window.Last().c_str());
        return 1;
    }
    return 0;
}
