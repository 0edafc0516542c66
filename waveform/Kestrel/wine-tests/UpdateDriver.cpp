// A host for Kestrel.dll that runs one whole update through its windows, the
// way a user would, for the end-to-end cases under Wine. The main thread is
// the host's: it creates "Kestrel.CWaveform" through COM (the registered class,
// or the class object of a DLL loaded by path) and calls getWaveform through
// IDispatch, which shows the setup window modally. A second thread operates
// that window from outside, by control id only: it types the address and the
// update file, sets strict checking, presses "Update", and answers each
// message box from the script, recording it as the Linux reference runner
// does. A window that does not appear in time ends the run with a message and
// a nonzero status; so does a box the script did not expect.
#include <windows.h>
//
#include <oleauto.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "UpdateCase.h"
#include "win32/ControlIds.h"

namespace {

using kestrel::e2e::BoxAnswerer;
using kestrel::e2e::CaseOptions;
using kestrel::e2e::Reply;
namespace ids = kestrel::win32;

constexpr const wchar_t* kProgId = L"Kestrel.CWaveform";
constexpr const wchar_t* kClsid = L"{3549DEA1-DB32-4646-B8BC-88B3008D3567}";
// How often the operating thread looks for the next window: another thread's
// window gives it nothing to block on.
constexpr DWORD kLookEveryMs = 20;

[[noreturn]] void GiveUp(const std::string& why) {
    std::fprintf(stderr, "kestrel-e2e-driver: %s\n", why.c_str());
    std::fflush(stderr);
    ExitProcess(3);  // the host thread is inside the modal window: no orderly way out
}

std::wstring Wide(const std::string& text) {
    int length =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                        length);
    return wide;
}

std::string Utf8(const std::wstring& wide) {
    int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                     nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), length,
                        nullptr, nullptr);
    return text;
}

std::string TextOf(HWND window) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), text.size())));
    return Utf8(text);
}

std::string ClassOf(HWND window) {
    std::array<char, 64> name{};
    GetClassNameA(window, name.data(), static_cast<int>(name.size()));
    return name.data();
}

// The visible top-level windows of this process.
std::vector<HWND> OurWindows() {
    std::vector<HWND> windows;
    EnumWindows(
        [](HWND window, LPARAM found) -> BOOL {
            DWORD process = 0;
            GetWindowThreadProcessId(window, &process);
            if (process == GetCurrentProcessId() && IsWindowVisible(window))
                reinterpret_cast<std::vector<HWND>*>(found)->push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&windows));
    return windows;
}

// A control anywhere below `window` (tab pages may hold their own), by id.
HWND Control(HWND window, int id) {
    struct Search {
        int id;
        HWND found;
    } search{id, nullptr};
    EnumChildWindows(
        window,
        [](HWND child, LPARAM param) -> BOOL {
            auto* s = reinterpret_cast<Search*>(param);
            if (GetDlgCtrlID(child) != s->id)
                return TRUE;
            s->found = child;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND FindSetupWindow() {
    for (HWND window : OurWindows()) {
        if (TextOf(window) == ids::kSetupTitle)
            return window;
    }
    return nullptr;
}

// A system message box: dialog class, its text in the static 0xFFFF.
HWND FindMessageBox() {
    for (HWND window : OurWindows()) {
        if (ClassOf(window) == "#32770" && GetDlgItem(window, ids::kMessageBoxText) != nullptr &&
            TextOf(window) != ids::kSetupTitle && TextOf(window) != ids::kFinderTitle)
            return window;
    }
    return nullptr;
}

// Looks every kLookEveryMs until `find` gives a window, the host thread has
// ended (`done`), or the deadline passes, which ends the run.
HWND WaitFor(const std::function<HWND()>& find, const std::atomic<bool>& done, int seconds,
             const std::string& what) {
    ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000;
    while (!done) {
        if (HWND window = find())
            return window;
        if (GetTickCount64() > deadline)
            GiveUp(what + " did not appear within " + std::to_string(seconds) + " s");
        Sleep(kLookEveryMs);
    }
    return nullptr;
}

HWND NeedControl(HWND window, int id, const char* name) {
    HWND control = Control(window, id);
    if (control == nullptr)
        GiveUp(std::string("the setup window has no control ") + name + " (id " +
               std::to_string(id) + ")");
    return control;
}

void TypeInto(HWND window, int id, const char* name, const std::string& text) {
    std::wstring wide = Wide(text);
    SendMessageW(NeedControl(window, id, name), WM_SETTEXT, 0,
                 reinterpret_cast<LPARAM>(wide.c_str()));
}

// Posted: the click runs the whole update on the host thread, and this thread
// must be free to answer its boxes meanwhile.
void Press(HWND button) {
    PostMessageW(button, BM_CLICK, 0, 0);
}

void StartUpdate(HWND setup, const CaseOptions& options) {
    TypeInto(setup, ids::kTxtAddress, "txtAddress", options.address);
    TypeInto(setup, ids::kTxtInputFile, "txtInputFile", options.file);
    SendMessageW(NeedControl(setup, ids::kChkChecking, "chkChecking"), BM_SETCHECK,
                 options.strict ? BST_CHECKED : BST_UNCHECKED, 0);
    Press(NeedControl(setup, ids::kCmdOK, "cmdOK"));
}

void AnswerBox(HWND box, BoxAnswerer& answerer, int deadlineSeconds) {
    std::vector<Reply> offered;
    for (Reply reply : {Reply::kOk, Reply::kCancel, Reply::kYes, Reply::kNo}) {
        if (GetDlgItem(box, static_cast<int>(reply)) != nullptr)
            offered.push_back(reply);
    }
    const std::string title = TextOf(box);
    Reply reply = answerer.Answer(title, TextOf(GetDlgItem(box, ids::kMessageBoxText)), offered);
    Press(GetDlgItem(box, static_cast<int>(reply)));
    ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(deadlineSeconds) * 1000;
    while (IsWindow(box)) {
        if (GetTickCount64() > deadline)
            GiveUp("the box \"" + title + "\" stayed after its " +
                   std::string(kestrel::e2e::ReplyName(reply)) + " button was pressed");
        Sleep(kLookEveryMs);
    }
}

// The operating thread: the setup window, then each box until the host's
// getWaveform has returned.
void Operate(const CaseOptions& options, BoxAnswerer& answerer, const std::atomic<bool>& done) {
    HWND setup = WaitFor(FindSetupWindow, done, options.deadlineSeconds,
                         std::string("the setup window \"") + ids::kSetupTitle + "\"");
    if (setup == nullptr)
        return;
    StartUpdate(setup, options);
    while (HWND box = WaitFor(FindMessageBox, done, options.deadlineSeconds, "a message box"))
        AnswerBox(box, answerer, options.deadlineSeconds);
}

// The class object, from the registry or from the DLL named on the command line.
IDispatch* CreateWaveform(const CaseOptions& options) {
    CLSID clsid{};
    IDispatch* object = nullptr;
    HRESULT result = S_OK;
    if (options.dll.empty()) {
        result = CLSIDFromProgID(kProgId, &clsid);
        if (SUCCEEDED(result))
            result = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                      reinterpret_cast<void**>(&object));
    } else {
        HMODULE dll = LoadLibraryW(Wide(options.dll).c_str());
        using GetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
        auto get = dll == nullptr ? nullptr
                                  : reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(
                                        GetProcAddress(dll, "DllGetClassObject")));
        IClassFactory* factory = nullptr;
        result =
            get == nullptr ? HRESULT_FROM_WIN32(GetLastError()) : CLSIDFromString(kClsid, &clsid);
        if (SUCCEEDED(result))
            result = get(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
        if (SUCCEEDED(result)) {
            result =
                factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&object));
            factory->Release();
        }
    }
    if (FAILED(result))
        std::fprintf(stderr, "kestrel-e2e-driver: cannot create Kestrel.CWaveform: 0x%08lx\n",
                     static_cast<unsigned long>(result));
    return object;
}

// getWaveform(wform, wTime), both by reference, late-bound as a script host calls it.
HRESULT CallGetWaveform(IDispatch* waveform) {
    OLECHAR name[] = L"getWaveform";
    LPOLESTR names[] = {name};
    DISPID id = 0;
    HRESULT result = waveform->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(result))
        return result;
    VARIANT wform;
    VariantInit(&wform);
    double wTime = 0;
    std::array<VARIANTARG, 2> args{};  // last argument first
    args[0].vt = VT_R8 | VT_BYREF;
    args[0].pdblVal = &wTime;
    args[1].vt = VT_VARIANT | VT_BYREF;
    args[1].pvarVal = &wform;
    DISPPARAMS parameters{args.data(), nullptr, 2, 0};
    EXCEPINFO exception{};
    UINT badArgument = 0;
    result = waveform->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &parameters,
                              nullptr, &exception, &badArgument);
    VariantClear(&wform);
    return result;
}

// Once its windows have run, threads of the plug-in's (the finder's probes, a
// name lookup given up at its time limit) may still be in its code: the DLL
// must stay loaded however often it is freed, as by COM when the host frees
// unused libraries or ends its apartment. Every reference the loader counts is
// given up here; the library must still be there.
bool StaysLoadedAfterItsWindows() {
    for (int i = 0; i < 64; ++i) {
        HMODULE library = GetModuleHandleW(L"Kestrel.dll");
        if (library == nullptr) {
            std::fprintf(stderr,
                         "kestrel-e2e-driver: Kestrel.dll was unloaded after its windows ran\n");
            return false;
        }
        FreeLibrary(library);
    }
    return true;
}

int RunCase(const CaseOptions& options) {
    BoxAnswerer answerer(options.answers, options.boxes);
    if (!answerer.RecordOpen()) {
        std::fprintf(stderr, "kestrel-e2e-driver: cannot write %s\n", options.boxes.c_str());
        return 2;
    }
    IDispatch* waveform = CreateWaveform(options);
    if (waveform == nullptr)
        return 1;
    std::atomic<bool> done = false;
    std::thread operating([&] { Operate(options, answerer, done); });
    HRESULT result = CallGetWaveform(waveform);
    done = true;
    operating.join();
    waveform->Release();
    if (options.dll.empty() && !StaysLoadedAfterItsWindows())
        return 1;
    if (FAILED(result)) {
        std::fprintf(stderr, "kestrel-e2e-driver: getWaveform failed: 0x%08lx\n",
                     static_cast<unsigned long>(result));
        return 1;
    }
    std::string failure = answerer.Failure();
    if (!failure.empty()) {
        std::fprintf(stderr, "kestrel-e2e-driver: %s\n", failure.c_str());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string error;
    std::optional<CaseOptions> options =
        kestrel::e2e::ParseCaseOptions({argv + 1, static_cast<size_t>(argc - 1)}, error);
    if (!options) {
        std::fprintf(stderr, "kestrel-e2e-driver: %s\n%s", error.c_str(), kestrel::e2e::kCaseUsage);
        return 2;
    }
    if (FAILED(CoInitialize(nullptr))) {
        std::fprintf(stderr, "kestrel-e2e-driver: CoInitialize failed\n");
        return 1;
    }
    int status = RunCase(*options);
    CoUninitialize();
    return status;
}
