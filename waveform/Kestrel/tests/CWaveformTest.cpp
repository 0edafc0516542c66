// The component as a host sees it: registered from its library file, created
// through the class registry, driven through its vtable and by name. Built
// against the published interface only; the library is loaded at run time.
#include <arpa/inet.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <ostream>
#include <thread>

#include "Activation.h"
#include "CWaveformInterface.h"
#include "Registry.h"
#include "ScopedEnv.h"
#include "TempFile.h"

namespace {

using kcom::ComPtr;

// A test program without an application object of its own, like a host
// that has none: getWaveform must make one.
class ComponentTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        folder_ = new testsupport::TempDir;
        registry_.emplace("KCOM_REGISTRY", (folder_->Path() / "registry.ini").string());
        settings_.emplace("XDG_CONFIG_HOME", folder_->Path().string());  // the window's settings
        std::string error;
        ASSERT_EQ(kcom::RegisterLibrary(KESTREL_LIBRARY, error), S_OK) << error;
    }
    static void TearDownTestSuite() {
        settings_.reset();
        registry_.reset();
        delete folder_;
        folder_ = nullptr;
    }
    ComponentTest() {
        EXPECT_EQ(kcom::CreateInstance(kKestrelProgId, IID__CWaveform, waveform_.Out()), S_OK);
    }
    static HRESULT CallServer(const char* name) {
        void* library = dlopen(KESTREL_LIBRARY, RTLD_NOW | RTLD_NOLOAD);
        auto function = reinterpret_cast<HRESULT (*)()>(dlsym(library, name));
        dlclose(library);
        return function();
    }
    // Invokes a member by name with the arguments given last first.
    HRESULT Call(const char16_t* name, WORD flags, std::vector<VARIANT> arguments,
                 VARIANT* result) {
        OLECHAR* names[] = {const_cast<OLECHAR*>(name)};
        DISPID id;
        HRESULT hr = waveform_->GetIDsOfNames(IID_NULL, names, 1, 0x409, &id);
        if (FAILED(hr))
            return hr;
        DISPID putId = DISPID_PROPERTYPUT;
        const bool put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
        DISPPARAMS params = {arguments.data(), put ? &putId : nullptr,
                             static_cast<UINT>(arguments.size()), put ? 1u : 0u};
        return waveform_->Invoke(id, IID_NULL, 0x409, flags, &params, result, nullptr, nullptr);
    }
    static VARIANT Int32(int32_t value) {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_I4;
        v.lVal = value;
        return v;
    }

    static testsupport::TempDir* folder_;
    static inline std::optional<testsupport::ScopedEnv> registry_;
    static inline std::optional<testsupport::ScopedEnv> settings_;
    ComPtr<_CWaveform> waveform_;
};
testsupport::TempDir* ComponentTest::folder_ = nullptr;

TEST_F(ComponentTest, AFailedRegistrationSaysWhyAndChangesNothing) {
    const std::filesystem::path damaged = folder_->Path() / "damaged.ini";
    const std::string text = "; by hand\n[Some\\Key]\nthis line is no entry\n";
    std::ofstream(damaged) << text;
    registry_->Set(damaged.string());
    std::string error;
    HRESULT result = kcom::RegisterLibrary(KESTREL_LIBRARY, error);
    registry_->Set((folder_->Path() / "registry.ini").string());
    EXPECT_EQ(result, SELFREG_E_CLASS);
    EXPECT_EQ(error, "DllRegisterServer failed: cannot parse the registry: " + damaged.string() +
                         ", line 3 is neither a [key] header, a name = value line nor a comment");
    std::ifstream in(damaged);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), text);
}

TEST_F(ComponentTest, RegistrationNamesTheLibraryItsClassAndTypeLibrary) {
    kcom::RegistryKeys keys = kcom::ReadRegistry();
    const std::string clsid = "CLSID\\{3549DEA1-DB32-4646-B8BC-88B3008D3567}";
    // The soname link beside the file, which survives an upgrade of the file.
    const std::string resolved =
        (std::filesystem::canonical(KESTREL_LIBRARY).parent_path() / "libKestrel.so.1").string();
    EXPECT_TRUE(std::filesystem::is_symlink(resolved));
    EXPECT_EQ(keys[clsid + "\\InprocServer32"]["@"], resolved);
    EXPECT_EQ(keys[clsid + "\\InprocServer32"]["ThreadingModel"], "Apartment");
    EXPECT_EQ(keys["Kestrel.CWaveform\\Clsid"]["@"], "{3549DEA1-DB32-4646-B8BC-88B3008D3567}");
    EXPECT_EQ(keys["TypeLib\\{1C01D5E5-A51D-4A1E-AE81-C01203C6DBF2}\\1.0"]["@"], "Kestrel");
    EXPECT_EQ(keys["TypeLib\\{1C01D5E5-A51D-4A1E-AE81-C01203C6DBF2}\\1.0\\409\\linux64"]["@"],
              resolved);

    ComPtr<IUnknown> byClassId;
    EXPECT_EQ(kcom::CreateInstance("{3549DEA1-DB32-4646-B8BC-88B3008D3567}", IID_IUnknown,
                                   byClassId.Out()),
              S_OK);

    auto version = reinterpret_cast<DllGetVersionBlockFunction>(
        dlsym(dlopen(KESTREL_LIBRARY, RTLD_NOW | RTLD_NOLOAD), "DllGetVersionBlock"));
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version()->fileVersion[3], 10);
    EXPECT_EQ(std::u16string(version()->FileVersion), u"1.00.0010");
    EXPECT_EQ(std::u16string(version()->OriginalFilename), u"Kestrel.dll");
    EXPECT_NE(version()->OLESelfRegister, nullptr);
}

TEST_F(ComponentTest, InterfacesAndReferenceCountsAndUnloading) {
    ComPtr<IDispatch> dispatch;
    EXPECT_EQ(waveform_->QueryInterface(IID_IDispatch, dispatch.Out()), S_OK);
    EXPECT_EQ(static_cast<void*>(dispatch.Get()), static_cast<void*>(waveform_.Get()));
    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(waveform_->QueryInterface(IID_IClassFactory, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(waveform_->AddRef(), 3u);
    EXPECT_EQ(waveform_->Release(), 2u);

    EXPECT_EQ(CallServer("DllCanUnloadNow"), S_FALSE);
    dispatch.Reset();
    waveform_.Reset();
    EXPECT_EQ(CallServer("DllCanUnloadNow"), S_OK);  // no application made yet

    ComPtr<IClassFactory> factory;
    auto getClassObject = reinterpret_cast<DllGetClassObjectFunction>(
        dlsym(dlopen(KESTREL_LIBRARY, RTLD_NOW | RTLD_NOLOAD), "DllGetClassObject"));
    ASSERT_EQ(getClassObject(CLSID_CWaveform, IID_IClassFactory, factory.Out()), S_OK);
    EXPECT_EQ(getClassObject(IID_IDispatch, IID_IClassFactory, &none), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(
        factory->CreateInstance(reinterpret_cast<IUnknown*>(factory.Get()), IID_IUnknown, &none),
        CLASS_E_NOAGGREGATION);
    factory->LockServer(1);
    factory.Reset();
    EXPECT_EQ(CallServer("DllCanUnloadNow"), S_FALSE);  // locked
    ASSERT_EQ(getClassObject(CLSID_CWaveform, IID_IClassFactory, factory.Out()), S_OK);
    factory->LockServer(0);
    factory.Reset();
    EXPECT_EQ(CallServer("DllCanUnloadNow"), S_OK);
}

TEST_F(ComponentTest, MembersThroughTheVtableKeepTheirFixedValues) {
    int32_t number = 0;
    EXPECT_EQ(waveform_->get_CountryCode(&number), S_OK);
    EXPECT_EQ(number, 1);
    waveform_->put_CountryCode(44);
    waveform_->get_CountryCode(&number);
    EXPECT_EQ(number, 1);
    waveform_->get_WaveFormResult(&number);
    EXPECT_EQ(number, 2);
    VARIANT type;
    waveform_->get_CType(&type);
    EXPECT_EQ(type.vt, VT_I2);
    EXPECT_EQ(type.iVal, 0);
    BSTR id = nullptr;
    waveform_->get_ComponentID(&id);
    EXPECT_EQ(kcom::ToUtf8(id), "KR470A Firmware Update");
    SysFreeString(id);

    int32_t action = 12345;
    VARIANT data = Int32(-7);
    VARIANT_BOOL done = VARIANT_FALSE;
    EXPECT_EQ(waveform_->Execute(&action, &data, &done), S_OK);
    EXPECT_EQ(done, VARIANT_TRUE);
    EXPECT_EQ(action, 12345);
    EXPECT_EQ(data.lVal, -7);

    VARIANT module;
    waveform_->get_module(&module);
    EXPECT_EQ(module.vt, VT_EMPTY);
    VARIANT text;
    VariantInit(&text);
    text.vt = VT_BSTR;
    text.bstrVal = kcom::AllocString("any value");
    waveform_->put_module(text);
    VariantClear(&text);  // the component keeps its own copy
    waveform_->get_module(&module);
    EXPECT_EQ(kcom::ToUtf8(module.bstrVal), "any value");
    VariantClear(&module);
}

TEST_F(ComponentTest, MembersByNameIgnoreCaseAndCheckTheirInvocationKind) {
    VARIANT result;
    EXPECT_EQ(Call(u"COMPONENTID", DISPATCH_PROPERTYGET, {}, &result), S_OK);
    EXPECT_EQ(result.vt, VT_BSTR);
    EXPECT_EQ(kcom::ToUtf8(result.bstrVal), "KR470A Firmware Update");
    VariantClear(&result);
    EXPECT_EQ(Call(u"countrycode", DISPATCH_PROPERTYPUT, {Int32(44)}, nullptr), S_OK);
    EXPECT_EQ(Call(u"CountryCode", DISPATCH_PROPERTYGET, {}, &result), S_OK);
    EXPECT_EQ(result.vt, VT_I4);
    EXPECT_EQ(result.lVal, 1);
    EXPECT_EQ(Call(u"WaveFormResult", DISPATCH_PROPERTYGET | DISPATCH_METHOD, {}, &result), S_OK);
    EXPECT_EQ(result.lVal, 2);
    EXPECT_EQ(Call(u"ctype", DISPATCH_PROPERTYGET, {}, &result), S_OK);
    EXPECT_EQ(result.vt, VT_I2);

    // Read-only members take no assignment; unknown names are refused.
    EXPECT_EQ(Call(u"WaveFormResult", DISPATCH_PROPERTYPUT, {Int32(5)}, nullptr),
              DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(Call(u"Waveform", DISPATCH_METHOD, {}, nullptr), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(Call(u"Execute", DISPATCH_METHOD, {Int32(1)}, &result), DISP_E_BADPARAMCOUNT);

    // Execute by reference: true, both arguments as they were.
    int32_t action = 3;
    VARIANT data = Int32(9), byRefAction, byRefData;
    VariantInit(&byRefAction);
    byRefAction.vt = VT_I4 | VT_BYREF;
    byRefAction.plVal = &action;
    VariantInit(&byRefData);
    byRefData.vt = VT_VARIANT | VT_BYREF;
    byRefData.pvarVal = &data;
    EXPECT_EQ(Call(u"execute", DISPATCH_METHOD, {byRefData, byRefAction}, &result), S_OK);
    EXPECT_EQ(result.vt, VT_BOOL);
    EXPECT_EQ(result.boolVal, VARIANT_TRUE);
    EXPECT_EQ(action, 3);
    EXPECT_EQ(data.lVal, 9);

    // module takes a value and an object reference.
    EXPECT_EQ(Call(u"Module", DISPATCH_PROPERTYPUT, {Int32(470)}, nullptr), S_OK);
    EXPECT_EQ(Call(u"module", DISPATCH_PROPERTYGET, {}, &result), S_OK);
    EXPECT_EQ(result.lVal, 470);
    VARIANT object;
    VariantInit(&object);
    object.vt = VT_DISPATCH;
    object.pdispVal = waveform_.Get();
    EXPECT_EQ(Call(u"module", DISPATCH_PROPERTYPUTREF, {object}, nullptr), S_OK);
    EXPECT_EQ(Call(u"module", DISPATCH_PROPERTYGET, {}, &result), S_OK);
    EXPECT_EQ(result.pdispVal, static_cast<IDispatch*>(waveform_.Get()));
    VariantClear(&result);
    EXPECT_EQ(Call(u"module", DISPATCH_PROPERTYPUT, {Int32(0)}, nullptr), S_OK);  // drops it
}

TEST_F(ComponentTest, NamedArgumentsGoToTheParametersTheirNamesResolveTo) {
    OLECHAR* names[] = {const_cast<OLECHAR*>(u"Execute"), const_cast<OLECHAR*>(u"DATA"),
                        const_cast<OLECHAR*>(u"action")};
    DISPID ids[3];
    ASSERT_EQ(waveform_->GetIDsOfNames(IID_NULL, names, 3, 0x409, ids), S_OK);
    EXPECT_EQ(ids[1], 1);
    EXPECT_EQ(ids[2], 0);

    // Both by name, in the resolved order; then one by name, one by position.
    VARIANT arguments[2] = {Int32(9), Int32(3)};
    DISPID named[2] = {ids[1], ids[2]};
    DISPPARAMS params = {arguments, named, 2, 2};
    VARIANT result;
    EXPECT_EQ(waveform_->Invoke(ids[0], IID_NULL, 0x409, DISPATCH_METHOD, &params, &result, nullptr,
                                nullptr),
              S_OK);
    EXPECT_EQ(result.boolVal, VARIANT_TRUE);
    params.cNamedArgs = 1;  // data by name, Action by position
    EXPECT_EQ(waveform_->Invoke(ids[0], IID_NULL, 0x409, DISPATCH_METHOD, &params, &result, nullptr,
                                nullptr),
              S_OK);

    // A position named twice, or none of the method's, is refused and named.
    UINT wrong = 99;
    named[1] = 1;
    params.cNamedArgs = 2;
    EXPECT_EQ(waveform_->Invoke(ids[0], IID_NULL, 0x409, DISPATCH_METHOD, &params, &result, nullptr,
                                &wrong),
              DISP_E_PARAMNOTFOUND);
    EXPECT_EQ(wrong, 1u);
    named[0] = 7;
    EXPECT_EQ(waveform_->Invoke(ids[0], IID_NULL, 0x409, DISPATCH_METHOD, &params, &result, nullptr,
                                &wrong),
              DISP_E_PARAMNOTFOUND);
    EXPECT_EQ(wrong, 0u);
}

TEST_F(ComponentTest, ModuleKeepsADeepCopyAndRefusesWhatItCannotCopy) {
    VARIANT text;
    VariantInit(&text);
    text.vt = VT_BSTR;
    text.bstrVal = kcom::AllocString("kept");
    VARIANT byReference;
    VariantInit(&byReference);
    byReference.vt = VT_VARIANT | VT_BYREF;
    byReference.pvarVal = &text;
    EXPECT_EQ(Call(u"module", DISPATCH_PROPERTYPUT, {byReference}, nullptr), S_OK);
    VariantClear(&text);  // the host frees its value

    // An array would be kept only as a pointer the host frees: refused.
    int32_t elements[2] = {1, 2};
    VARIANT array;
    VariantInit(&array);
    array.vt = VT_ARRAY | VT_I4;
    array.byref = elements;
    EXPECT_EQ(Call(u"module", DISPATCH_PROPERTYPUT, {array}, nullptr), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(waveform_->put_module(array), DISP_E_TYPEMISMATCH);
    VARIANT module;
    ASSERT_EQ(waveform_->get_module(&module), S_OK);
    EXPECT_EQ(module.vt, VT_BSTR);
    EXPECT_EQ(kcom::ToUtf8(module.bstrVal), "kept");
    VariantClear(&module);

    VARIANT wide;
    VariantInit(&wide);
    wide.vt = VT_I8;
    wide.llVal = 1LL << 40;
    EXPECT_EQ(waveform_->put_module(wide), S_OK);
    waveform_->get_module(&module);
    EXPECT_EQ(module.vt, VT_I8);
    EXPECT_EQ(module.llVal, 1LL << 40);
}

TEST_F(ComponentTest, CountryCodeTakesAnyNumberAndKeepsOne) {
    std::vector<VARIANT> numbers(5);
    for (VARIANT& v : numbers)
        VariantInit(&v);
    numbers[0].vt = VT_R4;
    numbers[0].fltVal = 44.0f;
    numbers[1].vt = VT_UI1;
    numbers[1].bVal = 44;
    numbers[2].vt = VT_I8;
    numbers[2].llVal = 44;
    numbers[3].vt = VT_BSTR;
    numbers[3].bstrVal = kcom::AllocString("44");
    for (VARIANT& v : numbers) {
        EXPECT_EQ(Call(u"CountryCode", DISPATCH_PROPERTYPUT, {v}, nullptr), S_OK) << v.vt;
        VariantClear(&v);
    }
    VARIANT text;
    VariantInit(&text);
    text.vt = VT_BSTR;
    text.bstrVal = kcom::AllocString("forty-four");
    EXPECT_EQ(Call(u"CountryCode", DISPATCH_PROPERTYPUT, {text}, nullptr), DISP_E_TYPEMISMATCH);
    VariantClear(&text);
    VARIANT result;
    EXPECT_EQ(Call(u"CountryCode", DISPATCH_PROPERTYGET, {}, &result), S_OK);
    EXPECT_EQ(result.lVal, 1);
}

// Holds a loopback port in the X display range, so that DISPLAY can name a
// server that is not there, or one that hangs up without speaking X.
class LoopbackDisplay {
  public:
    LoopbackDisplay() {
        for (int number = 80; number < 200 && fd_ < 0; ++number) {
            fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(static_cast<uint16_t>(6000 + number));
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
                name_ = "127.0.0.1:" + std::to_string(number);
            } else {
                close(fd_);
                fd_ = -1;
            }
        }
    }
    ~LoopbackDisplay() {
        if (hangUp_.joinable())
            hangUp_.join();
        if (fd_ >= 0)
            close(fd_);
    }
    const std::string& Name() const { return name_; }
    // From now on the first caller is let in and hung up on at once.
    void AcceptAndHangUp() {
        ASSERT_EQ(listen(fd_, 1), 0);
        hangUp_ = std::thread([fd = fd_] {
            pollfd waiting{fd, POLLIN, 0};
            if (poll(&waiting, 1, 5000) == 1)
                close(accept(fd, nullptr, nullptr));
        });
    }

  private:
    int fd_ = -1;
    std::string name_;
    std::thread hangUp_;
};

// Clears every variable Qt would pick a platform from, and puts them back
// however the test ends.
class NoDisplayNamed {
    testsupport::ScopedEnv platform_{"QT_QPA_PLATFORM", std::nullopt};
    testsupport::ScopedEnv display_{"DISPLAY", std::nullopt};
    testsupport::ScopedEnv wayland_{"WAYLAND_DISPLAY", std::nullopt};
};

TEST_F(ComponentTest, WithoutAWorkingDisplayTheCallFailsInsteadOfEndingTheHost) {
    NoDisplayNamed noDisplay;
    VARIANT wform = Int32(5);
    double wTime = 2.5;
    EXPECT_EQ(waveform_->getWaveform(&wform, &wTime), E_FAIL) << "no display named";

    // Qt would end the process on either of these.
    LoopbackDisplay display;
    ASSERT_FALSE(display.Name().empty());
    testsupport::ScopedEnv named("DISPLAY", display.Name());
    EXPECT_EQ(waveform_->getWaveform(&wform, &wTime), E_FAIL) << "no server at " << display.Name();
    display.AcceptAndHangUp();
    EXPECT_EQ(waveform_->getWaveform(&wform, &wTime), E_FAIL) << "a server that hangs up";
    EXPECT_EQ(QCoreApplication::instance(), nullptr);
}

// Runs `action` on the setup window once it shows; the application object
// may not exist yet, so the first showing is reached through its start-up.
std::function<void(QWidget*)> nextAction;
void ActOnSetupWindow() {
    QTimer::singleShot(0, [] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (widget->objectName() == "frmSetup" && widget->isVisible()) {
                nextAction(widget);
                return;
            }
        }
        ADD_FAILURE() << "the setup window is not showing";
    });
}

// What a host without a toolkit sees of its own process.
struct HostView {
    std::string locale;
    double parsed;
    std::string printed;
    void (*sigpipe)(int);
    std::string lang;
    bool operator==(const HostView&) const = default;
    friend std::ostream& operator<<(std::ostream& out, const HostView& view) {
        return out << view.locale << ", strtod " << view.parsed << ", printf " << view.printed
                   << ", SIGPIPE " << reinterpret_cast<void*>(view.sigpipe) << ", LANG "
                   << view.lang;
    }
};
HostView LookAtTheHost() {
    char printed[16];
    std::snprintf(printed, sizeof printed, "%.2f", 1.05);
    struct sigaction pipe {};
    sigaction(SIGPIPE, nullptr, &pipe);
    return {std::setlocale(LC_ALL, nullptr), std::strtod("1.05", nullptr), printed, pipe.sa_handler,
            std::getenv("LANG")};
}

TEST_F(ComponentTest, GetWaveformShowsTheWindowAfreshEachTimeAndLeavesItsArgumentsAndTheHost) {
    testsupport::ScopedEnv offscreen("QT_QPA_PLATFORM", "offscreen");
    ASSERT_EQ(QCoreApplication::instance(), nullptr);
    // A German desk: the toolkit would take its comma for the whole process.
    testsupport::ScopedEnv german("LANG", "de_DE.UTF-8");
    signal(SIGPIPE, SIG_IGN);
    const HostView before = LookAtTheHost();
    EXPECT_EQ(before.printed, "1.05");
    qAddPreRoutine(ActOnSetupWindow);
    nextAction = [](QWidget* window) {
        window->findChild<QLineEdit*>("txtAddress")->setText("ASRL5::INSTR");
        window->findChild<QPushButton*>("cmdCancel")->click();
    };
    VARIANT wform = Int32(5);
    double wTime = 2.5;
    ASSERT_EQ(waveform_->getWaveform(&wform, &wTime), S_OK);
    ASSERT_NE(qobject_cast<QApplication*>(QCoreApplication::instance()), nullptr);
    EXPECT_EQ(LookAtTheHost(), before);
    EXPECT_EQ(std::strtod("1.05", nullptr), 1.05);
    EXPECT_EQ(wform.vt, VT_I4);
    EXPECT_EQ(wform.lVal, 5);
    EXPECT_EQ(wTime, 2.5);

    QString shown;
    nextAction = [&](QWidget* window) {
        shown = window->findChild<QLineEdit*>("txtAddress")->text();
        window->close();
    };
    ActOnSetupWindow();
    VARIANT byName[2] = {Int32(0), Int32(1)};
    ASSERT_EQ(Call(u"GETWAVEFORM", DISPATCH_METHOD, {byName[0], byName[1]}, nullptr), S_OK);
    EXPECT_EQ(shown, "ASRL5::INSTR");
    EXPECT_EQ(CallServer("DllCanUnloadNow"), S_FALSE);  // it made the application object
}

}  // namespace
