#include "VlmDiscovery.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <atomic>
#include <mutex>

#include "FinderJobs.h"
#include "WindowTexts.h"
#include "WrappingDelegate.h"

namespace kestrel {
namespace {

// How many of the (at most `count`) units of `text` from `from` to take
// without splitting a character outside the basic plane in two.
qsizetype WholeUnits(const QString& text, qsizetype from, qsizetype count) {
    const qsizetype end = std::min(from + count, text.size());
    if (end > from && end < text.size() && text.at(end - 1).isHighSurrogate())
        return end - from - 1;
    return end - from;
}

std::function<SearchList()>& CandidateSource() {
    static std::function<SearchList()> source;
    return source;
}

std::function<std::shared_ptr<IOFactory>()>& FactoryMaker() {
    static std::function<std::shared_ptr<IOFactory>()> maker;
    return maker;
}

QPushButton* Button(const char* name, const char* caption, QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setAutoDefault(false);
    return button;
}

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

// Where the probes' answers go: the control while it lives, nowhere after.
// Probes of an older search, or of a control that is gone, are not started.
struct VlmDiscovery::Mailbox {
    explicit Mailbox(VlmDiscovery* owner) : control(owner) {}

    bool Wanted(unsigned search) const { return search == generation.load(); }
    void Post(unsigned search, int row, const ProbeResult& result) {
        std::lock_guard lock(mutex);
        if (control == nullptr)
            return;
        // Queued to the control's thread; Qt drops it if the control goes first.
        QMetaObject::invokeMethod(
            control,
            [owner = control, search, row, result] { owner->ShowResult(search, row, result); },
            Qt::QueuedConnection);
    }
    // Held only while an answer is queued, so this waits no longer than that.
    void Close() {
        ++generation;
        std::lock_guard lock(mutex);
        control = nullptr;
    }

    std::atomic<unsigned> generation{0};
    std::mutex mutex;
    VlmDiscovery* control;
};

void VlmDiscovery::SetCandidateSource(std::function<SearchList()> source) {
    CandidateSource() = std::move(source);
}

void VlmDiscovery::SetFactoryMaker(std::function<std::shared_ptr<IOFactory>()> maker) {
    FactoryMaker() = std::move(maker);
}

VlmDiscovery::VlmDiscovery(QWidget* parent)
    : QWidget(parent), mailbox_(std::make_shared<Mailbox>(this)) {
    setObjectName("VlmDiscovery");
    factory_ = FactoryMaker() ? FactoryMaker()() : std::shared_ptr<IOFactory>(CreateIOFactory());

    supported_ = new QLabel(this);
    supported_->setObjectName("lblSupported");
    problems_ = new QLabel(this);
    problems_->setObjectName("lblProblems");
    problems_->setWordWrap(true);
    problems_->hide();
    list_ = new QTreeWidget(this);
    list_->setObjectName("lstInstruments");
    list_->setHeaderLabels({"Address", "Model", "Supported", "Reply"});
    list_->setRootIsDecorated(false);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    // Whole replies, however long: the Reply column takes the room left and
    // its text wraps; every cell also carries its whole text as a tooltip.
    list_->setWordWrap(true);
    list_->setItemDelegate(new WrappingDelegate(
        list_,
        [list = list_](const QModelIndex& index) { return list->columnWidth(index.column()); },
        WrappingDelegate::Asks::kNaturalWidth));
    list_->setTextElideMode(Qt::ElideNone);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    list_->header()->setSectionResizeMode(kAddress, QHeaderView::Interactive);
    list_->header()->setSectionResizeMode(kReply, QHeaderView::Stretch);
    // Row heights follow the wrapped texts once the columns have their widths.
    QObject::connect(list_->header(), &QHeaderView::sectionResized, list_,
                     &QTreeWidget::doItemsLayout, Qt::QueuedConnection);
    address_ = new QLineEdit(this);
    address_->setObjectName("txtProbeAddress");
    address_->setPlaceholderText(kProbeAddressHint);
    add_ = Button("cmdAdd", "Add", this);
    search_ = Button("cmdSearch", "Search", this);
    stop_ = Button("cmdStop", "Stop", this);
    connect_ = Button("cmdConnectInstrument", "Connect", this);
    disconnect_ = Button("cmdDisconnect", "Disconnect", this);
    status_ = new QLabel(this);
    status_->setObjectName("lblStatus");

    auto* typed = new QHBoxLayout;
    typed->addWidget(address_, 1);
    typed->addWidget(add_);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(search_);
    buttons->addWidget(stop_);
    buttons->addStretch(1);
    buttons->addWidget(connect_);
    buttons->addWidget(disconnect_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(supported_);
    layout->addWidget(problems_);
    layout->addWidget(list_, 1);
    layout->addLayout(typed);
    layout->addLayout(buttons);
    layout->addWidget(status_);

    QObject::connect(add_, &QPushButton::clicked, this,
                     [this] { AddAddress(address_->text().trimmed().toStdString()); });
    QObject::connect(address_, &QLineEdit::returnPressed, add_, &QPushButton::click);
    QObject::connect(search_, &QPushButton::clicked, this, [this] { Search(); });
    QObject::connect(stop_, &QPushButton::clicked, this, [this] { StopSearch(); });
    QObject::connect(connect_, &QPushButton::clicked, this, [this] { ConnectSelected(); });
    QObject::connect(disconnect_, &QPushButton::clicked, this, [this] { Disconnect(); });
    QObject::connect(list_, &QTreeWidget::itemSelectionChanged, this, [this] {
        // A port that was not asked: its address ready to ask with Add.
        if (QTreeWidgetItem* item = SelectedItem(); item && item->text(kReply) == kNotAsked)
            address_->setText(item->text(kAddress));
        UpdateButtons();
    });
    QObject::connect(list_, &QTreeWidget::itemDoubleClicked, this, [this] { ConnectSelected(); });
    auto* copy = new QShortcut(QKeySequence::Copy, list_);
    QObject::connect(copy, &QShortcut::activated, this, [this] {
        if (const QString reply = SelectedReply(); !reply.isEmpty())
            QGuiApplication::clipboard()->setText(reply);
    });
    ShowSupportedModels();
    UpdateButtons();
}

// Probes under way finish on the pool; their answers go nowhere.
VlmDiscovery::~VlmDiscovery() {
    mailbox_->Close();
}

void VlmDiscovery::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    FitColumns();
}

// The address column as wide as its longest address but no more than
// kAddressSharePercent of the list (longer ones wrap); the reply takes the rest.
void VlmDiscovery::FitColumns() {
    list_->resizeColumnToContents(kAddress);
    const int most = list_->viewport()->width() * kAddressSharePercent / 100;
    if (list_->header()->sectionSize(kAddress) > most)
        list_->header()->resizeSection(kAddress, most);
}

void VlmDiscovery::SetConnectButtonsVisible(bool visible) {
    connectButtonsVisible_ = visible;
    connect_->setVisible(visible);
    disconnect_->setVisible(visible);
}

void VlmDiscovery::SetSupportInstrumentsLabelVisible(bool visible) {
    labelVisible_ = visible;
    supported_->setVisible(visible);
}

void VlmDiscovery::SetCriteria(std::shared_ptr<SearchCriteria> criteria) {
    criteria_ = std::move(criteria);
    ShowSupportedModels();
    if (searchOnCriteria_ && criteria_)
        Search();
}

void VlmDiscovery::ShowSupportedModels() {
    QStringList models;
    if (criteria_ && criteria_->ModelList) {
        for (const auto& entry : criteria_->ModelList->Entries())
            models << Text(entry.second);
    }
    supported_->setText("Supported instruments: " +
                        (models.isEmpty() ? QString("any") : models.join(", ")));
}

int VlmDiscovery::RowOf(const std::string& address, bool create) {
    for (int row = 0; row < list_->topLevelItemCount(); ++row) {
        if (list_->topLevelItem(row)->text(kAddress) == Text(address))
            return row;
    }
    if (!create)
        return -1;
    auto* item = new QTreeWidgetItem(QStringList{Text(address)});
    item->setToolTip(kAddress, Text(address));
    list_->addTopLevelItem(item);
    FitColumns();
    return list_->topLevelItemCount() - 1;
}

void VlmDiscovery::Search() {
    SearchList candidates = CandidateSource() ? CandidateSource()() : FindSearchList();
    ++mailbox_->generation;
    pending_ = 0;
    list_->clear();
    for (const std::string& address : candidates.asked)
        RowOf(address, true);
    for (const std::string& address : candidates.listed) {
        const int row = RowOf(address, true);
        list_->topLevelItem(row)->setText(kReply, kNotAsked);
        list_->topLevelItem(row)->setToolTip(kReply, kNotAsked);
    }
    QStringList problems;
    for (const std::string& problem : candidates.problems)
        problems << Text(problem);
    problems_->setText(problems.join("\n"));
    problems_->setVisible(!problems.isEmpty());
    for (const std::vector<size_t>& job : ProbeJobs(candidates.asked)) {
        std::vector<int> rows;
        for (size_t index : job)
            rows.push_back(RowOf(candidates.asked[index], false));
        if (rows.size() == 1)
            Probe(rows.front());
        else
            ProbeBoard(rows);
    }
    if (pending_ == 0)
        status_->setText("Search done.");
    UpdateButtons();
    AskGrowth();
}

void VlmDiscovery::StopSearch() {
    ++mailbox_->generation;
    pending_ = 0;
    for (int row = 0; row < list_->topLevelItemCount(); ++row) {
        QTreeWidgetItem* item = list_->topLevelItem(row);
        if (item->text(kReply) == kAsking)
            item->setText(kReply, "stopped");
    }
    status_->setText("Search stopped.");
    UpdateButtons();
}

void VlmDiscovery::AddAddress(const std::string& address) {
    if (address.empty())
        return;
    int row = RowOf(address, true);
    list_->setCurrentItem(list_->topLevelItem(row));
    Probe(row);
    UpdateButtons();
}

void VlmDiscovery::Probe(int row) {
    ProbeBoard({row});
}

// One job on the pool for the rows given: a single address alone, or the
// instruments behind one GPIB controller in turn. Answers come back to this
// thread through the event queue.
void VlmDiscovery::ProbeBoard(const std::vector<int>& rows) {
    std::vector<std::string> addresses;
    for (int row : rows) {
        QTreeWidgetItem* item = list_->topLevelItem(row);
        item->setText(kModel, "");
        item->setText(kSupported, "");
        item->setText(kReply, kAsking);
        addresses.push_back(item->text(kAddress).toStdString());
    }
    pending_ += static_cast<int>(rows.size());
    status_->setText("Asking each instrument who it is...");
    std::shared_ptr<KeyedCollection> models =
        criteria_ && criteria_->ModelList ? std::make_shared<KeyedCollection>(*criteria_->ModelList)
                                          : nullptr;
    const unsigned search = mailbox_->generation;
    SubmitProbeJob(
        factory_, models, addresses, kProbeTimeoutMs,
        [mailbox = mailbox_, search] { return mailbox->Wanted(search); },
        [mailbox = mailbox_, search, rows](size_t index, const ProbeResult& result) {
            mailbox->Post(search, rows[index], result);
        });
}

void VlmDiscovery::ShowResult(unsigned generation, int row, const ProbeResult& result) {
    if (generation != mailbox_->generation || row >= list_->topLevelItemCount())
        return;
    QTreeWidgetItem* item = list_->topLevelItem(row);
    item->setText(kModel, Text(result.model));
    item->setText(kSupported, result.supported ? "yes" : "");
    const QString reply = Text(result.error.empty() ? result.identification : result.error);
    item->setText(kReply, ShownReply(reply));
    item->setData(kReply, Qt::UserRole, reply);
    QFont font = item->font(kAddress);
    font.setBold(result.supported);
    for (int column = kAddress; column <= kReply; ++column) {
        item->setFont(column, font);
        item->setToolTip(column, column == kReply ? ReplyTooltip(reply) : item->text(column));
    }
    FitColumns();
    AskGrowth();
    if (--pending_ <= 0) {
        pending_ = 0;
        status_->setText("Search done.");
    }
    UpdateButtons();
}

QString VlmDiscovery::ShownReply(const QString& reply) {
    if (reply.size() <= kShownReplyCharacters)
        return reply;
    return reply.left(WholeUnits(reply, 0, kShownReplyCharacters - 1)) +
           QString::fromUtf8("\u2026");
}

QString VlmDiscovery::ReplyTooltip(const QString& reply) {
    if (reply.size() <= kShownReplyCharacters)
        return reply;
    QStringList lines;
    for (qsizetype at = 0, take = 0; at < reply.size() && at < kTooltipCharacters; at += take) {
        take = WholeUnits(reply, at,
                          std::min<qsizetype>(kTooltipLineCharacters, kTooltipCharacters - at));
        if (take == 0)
            break;  // the last unit left is half of a character
        lines << reply.mid(at, take);
    }
    QString tooltip = lines.join("\n");
    if (reply.size() > kTooltipCharacters)
        tooltip += QString::fromUtf8("\u2026\n(%1 of %2 characters; Ctrl+C copies the whole reply)")
                       .arg(kTooltipCharacters)
                       .arg(reply.size());
    return tooltip;
}

QString VlmDiscovery::SelectedReply() const {
    QTreeWidgetItem* item = SelectedItem();
    return item == nullptr ? QString() : item->data(kReply, Qt::UserRole).toString();
}

// How much taller the list would have to be to show every row.
void VlmDiscovery::AskGrowth() {
    if (!growRequest_)
        return;
    int wanted = list_->header()->isVisible() ? list_->header()->sizeHint().height() : 0;
    for (int row = 0; row < list_->topLevelItemCount(); ++row)
        wanted += list_->sizeHintForRow(row);
    wanted += 2 * list_->frameWidth();
    const int missing = wanted - list_->height();
    if (missing > 0)
        growRequest_(missing);
}

QTreeWidgetItem* VlmDiscovery::SelectedItem() const {
    const QList<QTreeWidgetItem*> selected = list_->selectedItems();
    return selected.isEmpty() ? nullptr : selected.front();
}

bool VlmDiscovery::ConnectSelected() {
    QTreeWidgetItem* item = SelectedItem();
    if (item == nullptr || !criteria_)
        return false;
    const std::string address = item->text(kAddress).toStdString();
    criteria_->IOObject = MakeDeferredIO(factory_, address);
    status_->setText("Connected to " + Text(address) + ".");
    UpdateButtons();
    return true;
}

void VlmDiscovery::Disconnect() {
    if (criteria_)
        criteria_->IOObject.reset();
    status_->setText("Not connected.");
    UpdateButtons();
}

void VlmDiscovery::UpdateButtons() {
    search_->setEnabled(pending_ == 0);
    stop_->setEnabled(pending_ > 0);
    connect_->setEnabled(SelectedItem() != nullptr && criteria_ != nullptr);
    disconnect_->setEnabled(criteria_ && criteria_->IOObject);
}

}  // namespace kestrel
