// The plug-in's window on Windows: a settings face (a three-page tab control
// with the address, the update file and strict checking, and the buttons
// "Description", "Update" and "Cancel") and a progress face (message list
// and progress bar) while the update runs. It closes after every update
// attempt and stores the address and file path for the next opening. Every
// control, those of the tab pages included, is a child of the window itself
// with its id from ControlIds.h; a page's controls are shown while its tab is
// selected.
#pragma once

#include <memory>
#include <vector>

#include "TopWindow.h"
#include "Win32WindowServices.h"

namespace kestrel::win32 {

class frmSetup : public TopWindow {
  public:
    frmSetup() = default;
    ~frmSetup() override;

    // Makes the window and runs Form load; false when the window cannot be made.
    bool Load();
    // Shows it and returns when it has unloaded.
    void ShowModal();
    bool Unloaded() const { return unloaded_; }

    std::vector<int> TabOrder() const override;

  protected:
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void OnCommand(int id, int code) override;

  private:
    void BuildControls();
    void ShowPage(int page);
    void Unload();
    void ConnectToInstrument();
    void FindUpdateFile();
    void Update();
    void ShowProgressFace();
    void ReportError(const std::string& description);
    bool Checked() const;
    void TakePageColour();

    std::unique_ptr<Win32WindowServices> services_;
    bool unloaded_ = false;
    bool storeReadable_ = false;  // decided once, at load: no saves when it was not
    bool updating_ = false;
    // The tab control's page colour, behind the page's labels and check box.
    HBRUSH pageBrush_ = nullptr;
};

}  // namespace kestrel::win32
