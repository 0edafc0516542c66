// The instrument finder on Windows: the list of candidate instruments (the
// I/O configuration's addresses, the serial ports present, and any the user
// types and adds), asked "*IDN?" in the background, those whose model the
// criteria list marked supported; "Connect" picks the selected one and
// "Close" takes its address back to the setup window. It keeps its list while
// hidden between showings, but each showing starts without a pick; closing it
// with the close box unloads it. Closing it either way stops a search under
// way. Its controls are its direct children with their ids from ControlIds.h.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Discovery.h"
#include "TopWindow.h"

namespace kestrel::win32 {

class frmConnect : public TopWindow {
  public:
    static constexpr int32_t kLoadWaitMs = 500;
    static constexpr int32_t kProbeTimeoutMs = 1500;
    // At most this many characters of a reply are shown, cut with "...".
    static constexpr size_t kShownReplyCharacters = 500;

    frmConnect();
    ~frmConnect() override;

    // Form load: makes the window, prepares the criteria and hands them over.
    bool Load();
    // True when this showing's "Close" took an instrument's address;
    // `address` is set only then.
    bool Connected(std::string& address) const;
    // Set when the close box ended the showing: the owner unloads the window.
    bool Unloading() const { return unloading_; }
    // Shows the window modally over `owner`, without a pick; returns when it
    // is hidden or closed.
    void ShowModal(HWND owner);

    std::vector<int> TabOrder() const override;

    // What the reply column shows of a reply.
    static std::string ShownReply(const std::string& reply);

  protected:
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void OnCommand(int id, int code) override;
    // Enter in the typed address adds it, as "Add" does.
    bool OnReturn(HWND focus) override;

  private:
    struct Mailbox;
    struct Row {
        std::string address, model, supported, reply;
    };

    void BuildControls();
    void SetCriteria(std::shared_ptr<SearchCriteria> criteria);
    void Search();
    void StopSearch();
    void AddAddress(const std::string& address);
    void ProbeRows(const std::vector<int>& rows);
    void ShowAnswers();
    bool ConnectSelected();
    void Disconnect();
    void Close();
    void EndShowing(bool unload);
    int RowOf(const std::string& address, bool create);
    void ShowRow(int row);
    int SelectedRow() const;
    void UpdateButtons();
    void ShowProblems(const std::vector<std::string>& problems);

    std::shared_ptr<Mailbox> mailbox_;
    std::shared_ptr<IOFactory> factory_;
    std::shared_ptr<SearchCriteria> criteria_;
    std::vector<Row> rows_;
    int pending_ = 0;
    std::string chosenAddress_;
    bool connected_ = false;
    bool unloading_ = false;
    bool showing_ = false;
    HMENU menu_ = nullptr;
};

// The thread's finder, created (loaded) when first asked for.
frmConnect& FinderWindow();
void UnloadFinderWindow();

}  // namespace kestrel::win32
