// The component layer's types, registry file and object creation rules.
#include "ComTypes.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "Activation.h"
#include "Registry.h"
#include "ScopedEnv.h"
#include "SharedFolder.h"
#include "TempFile.h"

namespace kcom {
namespace {

// Counts its references; never deletes itself.
struct CountedObject : IUnknown {
    ULONG references = 1;
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return ++references; }
    ULONG Release() override { return --references; }
};

TEST(Bstr, KeepsItsByteLengthBeforeTheCharactersAndEndsInNul) {
    BSTR text = AllocString("Kestrel µ 𝄞");
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(SysStringLen(text), 12u);  // the clef takes two UTF-16 units
    EXPECT_EQ(SysStringByteLen(text), 24u);
    uint32_t prefix;
    std::memcpy(&prefix, reinterpret_cast<char*>(text) - 4, 4);
    EXPECT_EQ(prefix, 24u);
    EXPECT_EQ(text[12], u'\0');
    EXPECT_EQ(ToUtf8(text), "Kestrel µ 𝄞");
    SysFreeString(text);

    BSTR embedded = SysAllocStringLen(u"a\0b", 3);  // a BSTR may hold NULs
    EXPECT_EQ(SysStringLen(embedded), 3u);
    EXPECT_EQ(ToUtf8(embedded), std::string("a\0b", 3));
    SysFreeString(embedded);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    SysFreeString(nullptr);
}

TEST(Variant, CopiesOwnTheirStringsAndReferencesAndClearReleasesThem) {
    CountedObject object;
    VARIANT source, copy;
    VariantInit(&source);
    VariantInit(&copy);
    source.vt = VT_UNKNOWN;
    source.punkVal = &object;
    ASSERT_EQ(VariantCopy(&copy, &source), S_OK);
    EXPECT_EQ(object.references, 2u);
    source.vt = VT_BSTR;  // the copy's own reference is still counted
    source.bstrVal = AllocString("text");
    ASSERT_EQ(VariantCopy(&copy, &source), S_OK);  // replaces the object
    EXPECT_EQ(object.references, 1u);
    EXPECT_NE(copy.bstrVal, source.bstrVal);
    EXPECT_EQ(ToUtf8(copy.bstrVal), "text");
    VariantClear(&copy);
    VariantClear(&source);
    EXPECT_EQ(copy.vt, VT_EMPTY);

    int16_t number = 7;
    VARIANT byReference;
    VariantInit(&byReference);
    byReference.vt = VT_I2 | VT_BYREF;
    byReference.piVal = &number;
    ASSERT_EQ(VariantCopyInd(&copy, &byReference), S_OK);
    EXPECT_EQ(copy.vt, VT_I2);
    EXPECT_EQ(copy.iVal, 7);
}

TEST(Guid, ParsesAndFormatsTheBracedForm) {
    const GUID dispatch = IID_IDispatch;
    EXPECT_EQ(ToString(dispatch), "{00020400-0000-0000-C000-000000000046}");
    std::optional<GUID> parsed = ParseGuid("{00020400-0000-0000-c000-000000000046}");
    ASSERT_TRUE(parsed);
    EXPECT_TRUE(*parsed == dispatch);
    for (const char* bad :
         {"", "00020400-0000-0000-C000-000000000046", "{00020400-0000-0000-C000-00000000004G}",
          "{0002040-00000-0000-C000-000000000046}"})
        EXPECT_FALSE(ParseGuid(bad)) << bad;
}

class RegistryTest : public ::testing::Test {
  protected:
    ServerRegistration Server(const std::string& progId, uint32_t id) const {
        GUID guid = IID_NULL;
        guid.Data1 = id;
        return {guid,  "C",  progId, "/opt/lib" + progId + ".so", "Apartment", guid, progId, "1.0",
                0x409, guid, "_C"};
    }
    testsupport::TempDir dir_;
    testsupport::ScopedEnv registry_{"KCOM_REGISTRY", (dir_.Path() / "registry.ini").string()};
};

TEST_F(RegistryTest, UnregisteringRemovesExactlyTheServersKeys) {
    std::ofstream(dir_.Path() / "registry.ini") << "[Other\\Key]\nName = kept\n";
    ASSERT_EQ(RegisterServer(Server("One.Class", 1)), S_OK);
    ASSERT_EQ(RegisterServer(Server("Two.Class", 2)), S_OK);
    CLSID clsid;
    ASSERT_EQ(CLSIDFromProgID("One.Class", &clsid), S_OK);
    EXPECT_EQ(clsid.Data1, 1u);
    EXPECT_EQ(RegisteredClasses().size(), 2u);

    ASSERT_EQ(UnregisterServer(Server("One.Class", 1)), S_OK);
    RegistryKeys keys = ReadRegistry();
    EXPECT_EQ(keys["Other\\Key"]["Name"], "kept");
    EXPECT_EQ(CLSIDFromProgID("One.Class", &clsid), CO_E_CLASSSTRING);
    ASSERT_EQ(RegisteredClasses().size(), 1u);
    EXPECT_EQ(RegisteredClasses()[0].progId, "Two.Class");
    // Everything the second server wrote is still there, and no temporary file.
    for (const auto& [path, values] : RegistrationKeys(Server("Two.Class", 2)))
        EXPECT_EQ(keys[path], values) << path;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.Path()),
                            std::filesystem::directory_iterator()),
              2);  // the registry and its lock file
}

TEST_F(RegistryTest, UnknownClassesAndMissingLibrariesFailWithTheirCodes) {
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(CreateInstance("No.Such.Class", IID_IUnknown, &object), CO_E_CLASSSTRING);
    EXPECT_EQ(object, reinterpret_cast<void*>(1));
    EXPECT_EQ(CreateInstance("{00000000-0000-0000-0000-000000000009}", IID_IUnknown, &object),
              REGDB_E_CLASSNOTREG);
    ASSERT_EQ(RegisterServer(Server("Gone.Class", 3)), S_OK);
    EXPECT_EQ(CreateInstance("Gone.Class", IID_IUnknown, &object), CO_E_DLLNOTFOUND);
    std::string error;
    EXPECT_EQ(RegisterLibrary("/no/such/library.so", error), CO_E_DLLNOTFOUND);
    EXPECT_FALSE(error.empty());
}

std::string ReadText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST_F(RegistryTest, CommentsAfterValuesAreNoPartOfThemAndSurviveAWrite) {
    const std::string mine = "; kept by hand\n[Other\\Key]\nName = kept ; why it is here\n";
    std::ofstream(dir_.Path() / "registry.ini") << mine;
    EXPECT_EQ(ReadRegistry()["Other\\Key"]["Name"], "kept");
    ASSERT_EQ(RegisterServer(Server("One.Class", 1)), S_OK);
    EXPECT_TRUE(ReadText(dir_.Path() / "registry.ini").starts_with(mine));
}

TEST_F(RegistryTest, AnUnreadableOrUnparsableRegistryIsLeftAsItIsAndSaysWhy) {
    const std::filesystem::path registry = dir_.Path() / "registry.ini";
    const std::string text = "[Other\\Key]\nName = kept\n";
    std::ofstream(registry) << text;
    if (geteuid() != 0) {  // mode 000 does not stop root
        chmod(registry.c_str(), 0);
        EXPECT_EQ(RegisterServer(Server("One.Class", 1)), SELFREG_E_CLASS);
        EXPECT_EQ(LastRegistryError(),
                  "cannot read the registry: " + registry.string() + ": Permission denied");
        chmod(registry.c_str(), 0644);
        EXPECT_EQ(ReadText(registry), text);
    }
    for (const std::string& damaged :
         {text + "a line that is no entry\n", "Name = outside\n" + text, text + "[Unclosed\n",
          text + std::string(1, '\0')}) {
        std::ofstream(registry, std::ios::binary) << damaged;
        EXPECT_EQ(RegisterServer(Server("One.Class", 1)), SELFREG_E_CLASS);
        EXPECT_EQ(LastRegistryError().find("cannot parse the registry: " + registry.string()),
                  damaged.back() == '\0' ? std::string::npos : 0u)
            << LastRegistryError();
        EXPECT_EQ(ReadText(registry), damaged);
    }
    std::filesystem::remove(registry);
    ASSERT_EQ(mkfifo(registry.c_str(), 0600), 0);
    EXPECT_EQ(RegisterServer(Server("One.Class", 1)), SELFREG_E_CLASS);
    EXPECT_EQ(LastRegistryError(),
              "cannot read the registry: " + registry.string() + " is a FIFO, not a regular file");
    EXPECT_TRUE(ReadRegistry().empty());

    std::filesystem::remove(registry);
    std::filesystem::create_symlink("loop.ini", registry);
    std::filesystem::create_symlink("registry.ini", dir_.Path() / "loop.ini");
    EXPECT_EQ(RegisterServer(Server("One.Class", 1)), SELFREG_E_CLASS);
    EXPECT_EQ(LastRegistryError(), "too many levels of symbolic links at " + registry.string());
}

TEST_F(RegistryTest, ALinkIsWrittenThroughAndAPlantedTemporaryNameIsNeverFollowed) {
    const std::filesystem::path target = dir_.Path() / "real.ini";
    const std::filesystem::path registry = dir_.Path() / "registry.ini";
    const std::filesystem::path victim = dir_.Path() / "victim";
    std::ofstream(target) << "[Other\\Key]\nName = kept\n";
    std::ofstream(victim) << "precious";
    std::filesystem::create_symlink("real.ini", registry);
    // Names a writer that picks its temporary file by process id would take.
    for (const std::string& planted : {".new." + std::to_string(getpid()), std::string(".new")}) {
        std::filesystem::create_symlink(victim, registry.string() + planted);
        std::filesystem::create_symlink(victim, target.string() + planted);
    }

    ASSERT_EQ(RegisterServer(Server("One.Class", 1)), S_OK) << LastRegistryError();
    EXPECT_TRUE(std::filesystem::is_symlink(registry));
    EXPECT_EQ(ReadRegistry()["Other\\Key"]["Name"], "kept");
    CLSID clsid;
    EXPECT_EQ(CLSIDFromProgID("One.Class", &clsid), S_OK);
    EXPECT_EQ(ReadText(victim), "precious");
}

TEST_F(RegistryTest, AnotherUsersLinkInAStickyFolderIsNeverWrittenThrough) {
    if (!testsupport::SharedFolder::CanActAsAnotherUser())
        GTEST_SKIP() << "needs root to make another user's link";
    testsupport::SharedFolder shared;
    const std::filesystem::path victim = shared.Top() / "victim";
    std::ofstream(victim) << "[Victim]\nName = precious\n";
    registry_.Set(shared.Link("registry.ini", victim));
    EXPECT_EQ(RegisterServer(Server("One.Class", 1)), SELFREG_E_CLASS);
    EXPECT_NE(LastRegistryError().find("another user's symbolic link"), std::string::npos)
        << LastRegistryError();
    EXPECT_EQ(ReadText(victim), "[Victim]\nName = precious\n");
    EXPECT_FALSE(std::filesystem::exists(shared.Top() / "victim.lock"));
}

TEST_F(RegistryTest, CommentsAndTheOrderOfEntriesSurviveAWrite) {
    const std::filesystem::path registry = dir_.Path() / "registry.ini";
    const std::string byHand =
        "; classes registered by hand\n"
        "[Zeta\\Key]\n"
        "# the tool that reads this\n"
        "Tool = zeta\n"
        "\n"
        "; kept as is\n"
        "[Alpha\\Key]\n"
        "  Name=kept   \n";
    std::ofstream(registry) << byHand;
    ASSERT_EQ(RegisterServer(Server("One.Class", 1)), S_OK);
    ASSERT_EQ(UnregisterServer(Server("One.Class", 1)), S_OK);
    EXPECT_EQ(ReadText(registry), byHand);
    std::string error;
    ASSERT_TRUE(
        ChangeRegistry([](RegistryKeys& keys) { keys["Zeta\\Key"]["Tool"] = "zeta 2"; }, error));
    EXPECT_NE(ReadText(registry).find("# the tool that reads this\nTool = zeta 2\n"),
              std::string::npos);
}

TEST_F(RegistryTest, AChangedValueInAWindowsWrittenFileKeepsItsLineEndsAndMark) {
    // As the plug-in settings store rewrites the same file: only the value changes.
    const std::filesystem::path registry = dir_.Path() / "registry.ini";
    std::ofstream(registry) << "\xEF\xBB\xBF[Zeta\\Key]\r\nTool = zeta\r\nMode = 1";
    std::string error;
    ASSERT_TRUE(
        ChangeRegistry([](RegistryKeys& keys) { keys["Zeta\\Key"]["Tool"] = "zeta 2"; }, error));
    EXPECT_EQ(ReadText(registry), "\xEF\xBB\xBF[Zeta\\Key]\r\nTool = zeta 2\r\nMode = 1");
    EXPECT_EQ(ReadRegistry()["Zeta\\Key"]["Tool"], "zeta 2");
}

}  // namespace
}  // namespace kcom
