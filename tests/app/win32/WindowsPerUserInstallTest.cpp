// A user who cannot write the machine's installation makes one of their own
// in %LOCALAPPDATA%\Quarvel, recorded under HKEY_CURRENT_USER, which later
// runs read before HKEY_LOCAL_MACHINE.
#include <windows.h>

#include "app/PerUserInstall.h"
#include "support/TestSupport.h"

namespace {

const wchar_t* const kKey = L"Software\\Nimbrel";

std::optional<std::wstring> StoredValue(HKEY root) {
    wchar_t buffer[1024] = {};
    DWORD size = sizeof buffer;
    if (::RegGetValueW(root, kKey, L"NB Path", RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return std::wstring(buffer);
}

// The machine's installation (its patch log read-only, so the user cannot
// write it) recorded under HKEY_LOCAL_MACHINE, and the user's local
// application data in the test folder.
class WindowsPerUserInstallTest : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        DeleteKeys();
        WriteBytes(shared() / "web/scripts/communication.js", "js");
        WriteBytes(shared() / "schemas/scorm12-wrapper.xsd", "<xs:schema/>");
        WriteBytes(shared() / "nb_logfile.txt", "\xFF\xFE");
        fs::permissions(shared() / "nb_logfile.txt", fs::perms::owner_read);
        fs::create_directories(dir() / "courses");
        const std::wstring machine = shared().wstring();
        ASSERT_EQ(::RegSetKeyValueW(HKEY_LOCAL_MACHINE, kKey, L"NB Path", REG_SZ, machine.c_str(),
                                    static_cast<DWORD>((machine.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
        env.emplace(std::map<std::string, std::optional<std::string>>{{"LOCALAPPDATA", path("local")}});
    }
    void TearDown() override {
        fs::permissions(shared() / "nb_logfile.txt", fs::perms::owner_write, fs::perm_options::add);
        DeleteKeys();
        env.reset();
        TempDirTest::TearDown();
    }
    static void DeleteKeys() {
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kKey);
        ::RegDeleteTreeW(HKEY_CURRENT_USER, kKey);
    }
    fs::path shared() const { return dir() / "Program Files" / "Quarvel"; }
    fs::path own() const { return dir() / "local" / "Quarvel"; }

    std::optional<ScopedEnvironment> env;
};

TEST_F(WindowsPerUserInstallTest, YesMakesTheFolderInLocalAppDataAndRecordsItForTheUser) {
    FakeUser user;
    user.settings = DefaultOkSettings();
    user.folder = path("courses");
    user.acceptPerUserInstall = true;
    const platform::FixedClock clock{TestTime()};
    QuarvelRun run(user, clock, InstallStore::Registry());
    EXPECT_EQ(run.RunSelectedJob(), RunOutcome::Ran);

    ASSERT_EQ(user.offers.size(), 1u);
    EXPECT_EQ(user.offers[0].perUserFolder, own().generic_string());
    EXPECT_EQ(user.offers[0].perUserStore, "HKEY_CURRENT_USER\\Software\\Nimbrel");
    EXPECT_EQ(PerUserInstallQuestion(user.offers[0]).find('/'), std::string::npos);
    // Recorded the Windows way for the user alone; the machine's value stays.
    EXPECT_EQ(StoredValue(HKEY_CURRENT_USER), own().wstring());
    EXPECT_EQ(StoredValue(HKEY_LOCAL_MACHINE), shared().wstring());
    EXPECT_EQ(ReadBytes(own() / "web/scripts/communication.js"), "js");
    EXPECT_EQ(ReadBytes(own() / "schemas/scorm12-wrapper.xsd"), "<xs:schema/>");
    ASSERT_FALSE(user.messages.empty());
    EXPECT_EQ(user.messages.back().text,
              "Check '" + (own() / "nb_logfile.txt").string() + "' for course bundle error status.");
    // Later runs find the user's own folder.
    EXPECT_EQ(InstallStore::Registry().GetInstallFolder(), own().generic_string());
}

TEST_F(WindowsPerUserInstallTest, NothingIsOfferedWithoutLocalAppData) {
    EXPECT_TRUE(PerUserInstallOfferFor(shared().generic_string()));
    const ScopedEnvironment noLocal{{{"LOCALAPPDATA", std::nullopt}}};
    EXPECT_FALSE(PerUserInstallOfferFor(shared().generic_string()));
}

}  // namespace
