// The discovery control that fills the instrument finder: it lists the
// candidate instruments of this machine (the I/O configuration's addresses,
// the serial ports present, plus any the user types), asks the configured and
// typed ones "*IDN?" in the background (never a port only found present),
// marks those whose model the criteria list, and connects to the one the user
// picks, leaving its I/O object in the criteria.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

#include "Discovery.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace kestrel {

class VlmDiscovery : public QWidget {
  public:
    static constexpr int32_t kProbeTimeoutMs = 1500;
    enum Column { kAddress, kModel, kSupported, kReply };

    explicit VlmDiscovery(QWidget* parent = nullptr);
    ~VlmDiscovery() override;

    // The two stored properties.
    void SetConnectButtonsVisible(bool visible);
    bool ConnectButtonsVisible() const { return connectButtonsVisible_; }
    void SetSupportInstrumentsLabelVisible(bool visible);
    bool SupportInstrumentsLabelVisible() const { return labelVisible_; }

    // The Boolean option: search the candidates as soon as criteria arrive.
    void SetSearchOnCriteria(bool search) { searchOnCriteria_ = search; }
    bool SearchOnCriteria() const { return searchOnCriteria_; }

    void SetCriteria(std::shared_ptr<SearchCriteria> criteria);
    std::shared_ptr<SearchCriteria> Criteria() const { return criteria_; }

    // Probes run on the process's small pool; a search of no more candidates
    // than it has workers takes about as long as its slowest probe. The
    // instruments of one GPIB board are asked in turn by one probe. A new
    // search replaces the rows of the last one.
    void Search();
    void StopSearch();
    bool Searching() const { return pending_ > 0; }
    void AddAddress(const std::string& address);
    // Connects to the selected row's instrument; false with nothing selected
    // (a current row that is not selected does not count).
    bool ConnectSelected();
    void Disconnect();

    // Called with how many pixels more the list needs to show every row
    // (the finder grows by as much as the screen allows).
    void SetGrowRequest(std::function<void(int)> request) { growRequest_ = std::move(request); }

    // At most this many characters of a reply are shown (a screenful of the
    // Reply column), cut with "…". The tooltip holds a reply that long whole;
    // a longer one in lines of kTooltipLineCharacters, up to a screenful
    // (kTooltipCharacters), since laying out more would block the window
    // (a 1 MiB tooltip takes seconds). Copy (Ctrl+C) puts the selected row's
    // whole reply on the clipboard.
    static constexpr int kShownReplyCharacters = 500;
    static constexpr int kTooltipLineCharacters = 100;
    static constexpr int kTooltipCharacters = 4000;
    static QString ShownReply(const QString& reply);
    static QString ReplyTooltip(const QString& reply);
    // The whole reply of the selected row ("" with none).
    QString SelectedReply() const;

    // Tests supply their own candidates and I/O factory; empty restores the real ones.
    static void SetCandidateSource(std::function<SearchList()> source);
    static void SetFactoryMaker(std::function<std::shared_ptr<IOFactory>()> maker);

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    struct Mailbox;
    static constexpr int kAddressSharePercent = 40;

    int RowOf(const std::string& address, bool create);
    void Probe(int row);
    void ProbeBoard(const std::vector<int>& rows);
    void AskGrowth();
    void ShowResult(unsigned generation, int row, const ProbeResult& result);
    QTreeWidgetItem* SelectedItem() const;
    void UpdateButtons();
    void FitColumns();
    void ShowSupportedModels();

    std::shared_ptr<SearchCriteria> criteria_;
    std::shared_ptr<IOFactory> factory_;
    bool connectButtonsVisible_ = true;
    bool labelVisible_ = true;
    bool searchOnCriteria_ = false;
    std::shared_ptr<Mailbox> mailbox_;  // shared with the probes under way
    int pending_ = 0;
    std::function<void(int)> growRequest_;

    QLabel* supported_;
    QLabel* problems_;
    QTreeWidget* list_;
    QLineEdit* address_;
    QPushButton* add_;
    QPushButton* search_;
    QPushButton* stop_;
    QPushButton* connect_;
    QPushButton* disconnect_;
    QLabel* status_;
};

}  // namespace kestrel
