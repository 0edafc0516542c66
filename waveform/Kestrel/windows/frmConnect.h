// The instrument finder: the discovery control told to offer KR470A
// instruments, and a "Close" button that takes the address of the instrument
// the user connected to. It keeps its list while hidden between showings,
// but each showing starts without a pick; closing it with the window's close
// box unloads it. Closing it either way stops a search under way. It opens at
// its designed size and grows taller when the list needs it.
#pragma once

#include <QDialog>
#include <memory>
#include <string>

#include "Discovery.h"

class QPushButton;
class QMenuBar;

namespace kestrel {

class VlmDiscovery;

class frmConnect : public QDialog {
  public:
    static constexpr int32_t kLoadWaitMs = 500;

    // Form load: prepares the criteria and hands them to the control.
    explicit frmConnect(QWidget* owner = nullptr);

    // True when this showing's "Close" took an instrument's address;
    // `address` is set only then.
    bool Connected(std::string& address) const;
    // Set when the close box ended the showing: the owner unloads the window.
    bool Unloading() const { return unloading_; }

    // Shows the window modally over `owner`, without a pick; returns when it
    // is hidden or closed.
    void ShowModal(QWidget* owner);

  protected:
    // The close box ends the showing without the "Close" steps.
    void reject() override;
    // Escape does nothing: only "Close" and the close box end a showing.
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void Load();
    void Close();
    void Grow(int missing);

    std::string chosenAddress_;
    bool connected_ = false;
    bool unloading_ = false;
    VlmDiscovery* discovery_;
    QPushButton* cmdClose_;
    QMenuBar* menu_;
    QSize designed_;
};

// The thread's finder, created (loaded) when first asked for.
frmConnect& FinderWindow();
void UnloadFinderWindow();

}  // namespace kestrel
