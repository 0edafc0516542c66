#include "frmConnect.h"

#include <commctrl.h>

#include <atomic>
#include <deque>
#include <mutex>

#include "ControlIds.h"
#include "FinderJobs.h"
#include "RuntimeError.h"
#include "Win32WindowServices.h"
#include "WindowTexts.h"
#include "modGlobals.h"
#include "modTimer.h"

namespace kestrel::win32 {
namespace {

constexpr UINT kAnswersWaiting = WM_APP + 1;
constexpr int kClientWidth = 8250, kClientHeight = 4620;
constexpr UINT kMenuHelp = 1;  // "Help": no action, as designed

enum Column { kAddressColumn, kModelColumn, kSupportedColumn, kReplyColumn };

thread_local std::unique_ptr<frmConnect> finder;

std::wstring Wide(const std::string& text) {
    std::wstring wide(text.size() + 1, L'\0');
    const int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(),
                                           static_cast<int>(wide.size()));
    wide.resize(length > 0 ? static_cast<size_t>(length - 1) : 0);
    return wide;
}

HMENU MakeMenu() {
    HMENU bar = CreateMenu();
    HMENU junk = CreatePopupMenu();
    AppendMenuA(junk, MF_STRING, kMenuHelp, "Help");
    AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(junk), "Junk");
    return bar;
}

void AddColumn(HWND list, int column, const char* title, int widthTwips) {
    LVCOLUMNA info{};
    info.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    info.pszText = const_cast<char*>(title);
    info.cx = Twips(widthTwips);
    info.iSubItem = column;
    SendMessageA(list, LVM_INSERTCOLUMNA, column, reinterpret_cast<LPARAM>(&info));
}

void SetCell(HWND list, int row, int column, const std::string& text) {
    LVITEMA item{};
    item.iSubItem = column;
    item.pszText = const_cast<char*>(text.c_str());
    SendMessageA(list, LVM_SETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
}

}  // namespace

// Where the probes' answers go: queued for the window while it lives, which
// a posted message wakes; nowhere after. Probes of an older search, or of a
// window that is gone, are not started.
struct frmConnect::Mailbox {
    struct Answer {
        unsigned search;
        int row;
        ProbeResult result;
    };

    explicit Mailbox(HWND owner) : window(owner) {}
    bool Wanted(unsigned search) const { return search == generation.load(); }
    void Post(unsigned search, int row, const ProbeResult& result) {
        std::lock_guard lock(mutex);
        if (window == nullptr)
            return;
        answers.push_back({search, row, result});
        PostMessageA(window, kAnswersWaiting, 0, 0);
    }
    std::deque<Answer> Take() {
        std::lock_guard lock(mutex);
        return std::exchange(answers, {});
    }
    void Close() {
        ++generation;
        std::lock_guard lock(mutex);
        window = nullptr;
        answers.clear();
    }

    std::atomic<unsigned> generation{0};
    std::mutex mutex;
    HWND window;
    std::deque<Answer> answers;
};

frmConnect::frmConnect() : factory_(CreateIOFactory()) {}

frmConnect::~frmConnect() {
    Destroy();
    if (mailbox_)
        mailbox_->Close();
}

bool frmConnect::Load() {
    menu_ = MakeMenu();
    if (!CreateTop(kFinderTitle, kClientWidth, kClientHeight, menu_))
        return false;
    mailbox_ = std::make_shared<Mailbox>(Handle());
    BuildControls();
    chosenAddress_.clear();
    connected_ = false;
    try {
        std::shared_ptr<SearchCriteria> criteria = FinderCriteria();
        HCURSOR before = SetCursor(LoadCursor(nullptr, IDC_WAIT));
        Wait(kLoadWaitMs);
        SetCriteria(std::move(criteria));  // searches the candidates at once
        SetCursor(before);
    } catch (const std::exception& error) {
        ShowMessageBox(Handle(), error.what(), Buttons::kOk, Icon::kCritical,
                       kFinderLoadErrorTitle);
    }
    return true;
}

// The discovery area (120, 120, 8055, 3735 twips) from top to bottom: the
// supported models, the problems with the I/O configuration (when there are
// any), the list, the typed address and "Add", the search and connect
// buttons, and the status line.
void frmConnect::BuildControls() {
    AddControl("STATIC", "", SS_LEFTNOWORDWRAP, kLblSupported, {120, 120, 8055, 240});
    AddControl("STATIC", "", 0, kLblProblems, {120, 360, 8055, 240});
    Show(kLblProblems, false);
    HWND list =
        AddControl(WC_LISTVIEWA, "", WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS,
                   kLstInstruments, {120, 360, 8055, 2460}, WS_EX_CLIENTEDGE);
    SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    AddColumn(list, kAddressColumn, "Address", 2700);
    AddColumn(list, kModelColumn, "Model", 1100);
    AddColumn(list, kSupportedColumn, "Supported", 1000);
    AddColumn(list, kReplyColumn, "Reply", 3000);
    AddControl("EDIT", "", WS_TABSTOP | ES_AUTOHSCROLL, kTxtProbeAddress, {120, 2880, 6900, 315},
               WS_EX_CLIENTEDGE);
    SendMessageA(Control(kTxtProbeAddress), EM_SETCUEBANNER, TRUE,
                 reinterpret_cast<LPARAM>(Wide(kProbeAddressHint).c_str()));
    const DWORD button = WS_TABSTOP | BS_PUSHBUTTON;
    AddControl("BUTTON", "Add", button, kCmdAdd, {7080, 2880, 1095, 315});
    AddControl("BUTTON", "Search", button, kCmdSearch, {120, 3255, 1095, 315});
    AddControl("BUTTON", "Stop", button, kCmdStop, {1275, 3255, 1095, 315});
    AddControl("BUTTON", "Connect", button, kCmdConnectInstrument, {5925, 3255, 1095, 315});
    AddControl("BUTTON", "Disconnect", button, kCmdDisconnect, {7080, 3255, 1095, 315});
    AddControl("STATIC", "", SS_LEFTNOWORDWRAP, kLblStatus, {120, 3615, 8055, 240});
    AddControl("BUTTON", "Close", button, kCmdClose, {6960, 3960, 1215, 495});
    SetCriteria(nullptr);
}

std::vector<int> frmConnect::TabOrder() const {
    return {kLstInstruments, kTxtProbeAddress,      kCmdAdd,        kCmdSearch,
            kCmdStop,        kCmdConnectInstrument, kCmdDisconnect, kCmdClose};
}

void frmConnect::SetCriteria(std::shared_ptr<SearchCriteria> criteria) {
    criteria_ = std::move(criteria);
    std::string models;
    if (criteria_ && criteria_->ModelList) {
        for (const auto& entry : criteria_->ModelList->Entries())
            models += (models.empty() ? "" : ", ") + entry.second;
    }
    SetText(kLblSupported, "Supported instruments: " + (models.empty() ? "any" : models));
    if (criteria_)
        Search();  // the Boolean option the window sets: search as soon as criteria arrive
    UpdateButtons();
}

void frmConnect::ShowProblems(const std::vector<std::string>& problems) {
    std::string text;
    for (const std::string& problem : problems)
        text += (text.empty() ? "" : "; ") + problem;
    SetText(kLblProblems, text);
    Show(kLblProblems, !problems.empty());
    const int top = problems.empty() ? 360 : 600;
    SetWindowPos(Control(kLstInstruments), nullptr, Twips(120), Twips(top), Twips(8055),
                 Twips(2820 - top), SWP_NOZORDER | SWP_NOACTIVATE);
}

int frmConnect::RowOf(const std::string& address, bool create) {
    for (size_t row = 0; row < rows_.size(); ++row) {
        if (rows_[row].address == address)
            return static_cast<int>(row);
    }
    if (!create)
        return -1;
    rows_.push_back({address, "", "", ""});
    const int row = static_cast<int>(rows_.size() - 1);
    LVITEMA item{};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.pszText = const_cast<char*>(address.c_str());
    SendMessageA(Control(kLstInstruments), LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
    return row;
}

void frmConnect::ShowRow(int row) {
    const Row& shown = rows_[static_cast<size_t>(row)];
    HWND list = Control(kLstInstruments);
    SetCell(list, row, kModelColumn, shown.model);
    SetCell(list, row, kSupportedColumn, shown.supported);
    SetCell(list, row, kReplyColumn, ShownReply(shown.reply));
}

std::string frmConnect::ShownReply(const std::string& reply) {
    if (reply.size() <= kShownReplyCharacters)
        return reply;
    return reply.substr(0, kShownReplyCharacters - 3) + "...";
}

void frmConnect::Search() {
    SearchList candidates = FindSearchList();
    ++mailbox_->generation;
    pending_ = 0;
    rows_.clear();
    SendMessageA(Control(kLstInstruments), LVM_DELETEALLITEMS, 0, 0);
    for (const std::string& address : candidates.asked)
        RowOf(address, true);
    for (const std::string& address : candidates.listed) {
        const int row = RowOf(address, true);
        rows_[static_cast<size_t>(row)].reply = kNotAsked;
        ShowRow(row);
    }
    ShowProblems(candidates.problems);
    for (const std::vector<size_t>& job : ProbeJobs(candidates.asked)) {
        std::vector<int> rows;
        for (size_t index : job)
            rows.push_back(RowOf(candidates.asked[index], false));
        ProbeRows(rows);
    }
    if (pending_ == 0)
        SetText(kLblStatus, "Search done.");
    UpdateButtons();
}

void frmConnect::StopSearch() {
    ++mailbox_->generation;
    pending_ = 0;
    for (size_t row = 0; row < rows_.size(); ++row) {
        if (rows_[row].reply == kAsking) {
            rows_[row].reply = "stopped";
            ShowRow(static_cast<int>(row));
        }
    }
    SetText(kLblStatus, "Search stopped.");
    UpdateButtons();
}

void frmConnect::AddAddress(const std::string& typed) {
    const size_t first = typed.find_first_not_of(" \t");
    if (first == std::string::npos)
        return;
    const std::string address = typed.substr(first, typed.find_last_not_of(" \t") - first + 1);
    const int row = RowOf(address, true);
    ListView_SetItemState(Control(kLstInstruments), row, LVIS_SELECTED | LVIS_FOCUSED,
                          LVIS_SELECTED | LVIS_FOCUSED);
    ProbeRows({row});
    UpdateButtons();
}

// One job on the pool for the rows given: a single address alone, or the
// instruments behind one GPIB controller in turn. Answers come back to this
// thread through the window's message queue.
void frmConnect::ProbeRows(const std::vector<int>& rows) {
    std::vector<std::string> addresses;
    for (int row : rows) {
        Row& probed = rows_[static_cast<size_t>(row)];
        probed.model.clear();
        probed.supported.clear();
        probed.reply = kAsking;
        ShowRow(row);
        addresses.push_back(probed.address);
    }
    pending_ += static_cast<int>(rows.size());
    SetText(kLblStatus, "Asking each instrument who it is...");
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

void frmConnect::ShowAnswers() {
    for (const Mailbox::Answer& answer : mailbox_->Take()) {
        if (answer.search != mailbox_->generation || answer.row >= static_cast<int>(rows_.size()))
            continue;
        Row& row = rows_[static_cast<size_t>(answer.row)];
        const ProbeResult& result = answer.result;
        row.model = result.model;
        row.supported = result.supported ? "yes" : "";
        row.reply = result.error.empty() ? result.identification : result.error;
        ShowRow(answer.row);
        if (--pending_ <= 0) {
            pending_ = 0;
            SetText(kLblStatus, "Search done.");
        }
    }
    UpdateButtons();
}

int frmConnect::SelectedRow() const {
    return static_cast<int>(SendMessageA(Control(kLstInstruments), LVM_GETNEXTITEM,
                                         static_cast<WPARAM>(-1), LVNI_SELECTED));
}

bool frmConnect::ConnectSelected() {
    const int row = SelectedRow();
    if (row < 0 || row >= static_cast<int>(rows_.size()) || !criteria_)
        return false;
    const std::string& address = rows_[static_cast<size_t>(row)].address;
    criteria_->IOObject = MakeDeferredIO(factory_, address);
    SetText(kLblStatus, "Connected to " + address + ".");
    UpdateButtons();
    return true;
}

void frmConnect::Disconnect() {
    if (criteria_)
        criteria_->IOObject.reset();
    SetText(kLblStatus, "Not connected.");
    UpdateButtons();
}

void frmConnect::UpdateButtons() {
    EnableWindow(Control(kCmdSearch), pending_ == 0);
    EnableWindow(Control(kCmdStop), pending_ > 0);
    EnableWindow(Control(kCmdConnectInstrument), SelectedRow() >= 0 && criteria_ != nullptr);
    EnableWindow(Control(kCmdDisconnect), criteria_ && criteria_->IOObject);
}

// Every step reports its own failure and the next one still runs.
void frmConnect::Close() {
    if (pending_ > 0)
        StopSearch();  // the update about to start must not wait behind probes
    std::shared_ptr<InstrumentIO> io;
    try {
        if (!criteria_)
            throw RuntimeError(91, "Object variable or With block variable not set");
        io = criteria_->IOObject;
    } catch (const std::exception& error) {
        ShowMessageBox(Handle(), error.what(), Buttons::kOk, Icon::kNone, kFinderCloseErrorTitle);
    }
    if (io) {
        connected_ = true;
        try {
            chosenAddress_ = io->GetAddress();
        } catch (const std::exception& error) {
            ShowMessageBox(Handle(), error.what(), Buttons::kOk, Icon::kNone,
                           kFinderCloseErrorTitle);
        }
        io.reset();
    }
    EndShowing(false);
}

bool frmConnect::Connected(std::string& address) const {
    if (connected_)
        address = chosenAddress_;
    return connected_;
}

void frmConnect::ShowModal(HWND owner) {
    unloading_ = false;
    // Each showing starts without a pick: "Close" alone must not hand back
    // an instrument chosen in an earlier showing over a newly typed address.
    chosenAddress_.clear();
    connected_ = false;
    if (criteria_ && criteria_->IOObject)
        Disconnect();
    SetWindowLongPtrA(Handle(), GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(owner));
    EnableWindow(owner, FALSE);
    showing_ = true;
    ShowWindow(Handle(), SW_SHOW);
    SetForegroundWindow(Handle());
    SetFocus(Control(kLstInstruments));
    RunModal([this] { return !showing_; });
    EnableWindow(owner, TRUE);
    if (Handle() != nullptr) {
        ShowWindow(Handle(), SW_HIDE);
        SetWindowLongPtrA(Handle(), GWLP_HWNDPARENT, 0);  // the owner may go before this window
    }
    SetForegroundWindow(owner);
    showing_ = false;
}

// Ends the modal showing; the window hides, and the owner is enabled before
// it does, so that the owner, not another program, becomes active.
void frmConnect::EndShowing(bool unload) {
    unloading_ = unload;
    showing_ = false;
}

LRESULT frmConnect::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case kAnswersWaiting:
            ShowAnswers();
            return 0;
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            if (header->idFrom != static_cast<UINT_PTR>(kLstInstruments))
                break;
            if (header->code == LVN_ITEMCHANGED) {
                // A port that was not asked: its address ready to ask with Add.
                const int row = SelectedRow();
                if (row >= 0 && row < static_cast<int>(rows_.size()) &&
                    rows_[static_cast<size_t>(row)].reply == kNotAsked)
                    SetText(kTxtProbeAddress, rows_[static_cast<size_t>(row)].address);
                UpdateButtons();
            } else if (header->code == NM_DBLCLK) {
                ConnectSelected();
            }
            return 0;
        }
        case WM_CLOSE:
            // The close box ends the showing without the "Close" steps.
            if (pending_ > 0)
                StopSearch();
            EndShowing(true);
            return 0;
        default:
            break;
    }
    return TopWindow::OnMessage(message, wParam, lParam);
}

void frmConnect::OnCommand(int id, int code) {
    if (id == kTxtProbeAddress || code != BN_CLICKED)
        return;
    switch (id) {
        case kCmdAdd:
            AddAddress(TextOf(kTxtProbeAddress));
            break;
        case kCmdSearch:
            Search();
            break;
        case kCmdStop:
            StopSearch();
            break;
        case kCmdConnectInstrument:
            ConnectSelected();
            break;
        case kCmdDisconnect:
            Disconnect();
            break;
        case kCmdClose:
            Close();
            break;
        default:
            break;
    }
}

bool frmConnect::OnReturn(HWND focus) {
    if (focus != Control(kTxtProbeAddress))
        return false;
    AddAddress(TextOf(kTxtProbeAddress));
    return true;
}

frmConnect& FinderWindow() {
    if (!finder) {
        auto window = std::make_unique<frmConnect>();
        if (!window->Load())
            throw RuntimeError(0, "The instrument finder window cannot be made.");
        finder = std::move(window);
    }
    return *finder;
}

void UnloadFinderWindow() {
    finder.reset();
}

}  // namespace kestrel::win32
