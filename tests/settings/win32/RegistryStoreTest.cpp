// The install folder from the registry value "NB Path" under
// HKEY_CURRENT_USER\Software\Nimbrel, else HKEY_LOCAL_MACHINE\Software\Nimbrel,
// with its trailing-backslash rules.
#include <windows.h>

#include "app/InstallStore.h"
#include "platform/InstallRegistry.h"
#include "support/TestSupport.h"

namespace {

const wchar_t* const kKey = L"Software\\Nimbrel";
using Variables = std::map<std::string, std::optional<std::string>>;

// The value as stored under `root`, or nothing when it is missing.
std::optional<std::wstring> StoredValue(HKEY root = HKEY_LOCAL_MACHINE) {
    wchar_t buffer[1024] = {};
    DWORD size = sizeof buffer;
    DWORD type = 0;
    if (::RegGetValueW(root, kKey, L"NB Path", RRF_RT_ANY, &type, buffer, &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    return std::wstring(buffer);
}

// Puts the keys as a test needs them and takes them away afterwards.
class RegistryStoreTest : public ::testing::Test {
protected:
    void SetUp() override { DeleteKeys(); }
    void TearDown() override { DeleteKeys(); }
    static void DeleteKeys() {
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kKey);
        ::RegDeleteTreeW(HKEY_CURRENT_USER, kKey);
    }
    static void Store(const std::wstring& value, HKEY root = HKEY_LOCAL_MACHINE) {
        ASSERT_EQ(::RegSetKeyValueW(root, kKey, L"NB Path", REG_SZ, value.c_str(),
                                    static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }
};

TEST_F(RegistryStoreTest, TrailingBackslashesAreRemovedAndWrittenBack) {
    struct Row {
        const wchar_t* stored;
        const char* returned;
        const wchar_t* storedAfter;
    };
    const Row rows[] = {
        {L"C:\\Program Files\\Quarvel", "C:/Program Files/Quarvel", L"C:\\Program Files\\Quarvel"},
        {L"C:\\Program Files\\Quarvel\\", "C:/Program Files/Quarvel", L"C:\\Program Files\\Quarvel"},
        {L"C:\\Quarvel\\\\", "C:/Quarvel/", L"C:\\Quarvel"},
        {L"C:\\", "C:", L"C:"},
        {L"", "", L""},
        {L"D:\\Kurs\u00e9", "D:/Kurs\xC3\xA9", L"D:\\Kurs\u00e9"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.returned);
        Store(row.stored);
        EXPECT_EQ(InstallStore::Registry().GetInstallFolder(), row.returned);
        EXPECT_EQ(StoredValue(), std::wstring(row.storedAfter));
    }
}

TEST_F(RegistryStoreTest, TheUsersOwnValueComesFirstAndIsWrittenBackWhereItWasRead) {
    using Value = std::optional<std::wstring>;
    struct Row {
        const char* what;
        Value user;
        Value machine;
        const char* returned;
        Value userAfter;
        Value machineAfter;
    };
    const Row rows[] = {
        {"the user's own", L"C:\\Own", L"C:\\Shared", "C:/Own", L"C:\\Own", L"C:\\Shared"},
        {"the machine's when the user has none", {}, L"C:\\Shared", "C:/Shared", {}, L"C:\\Shared"},
        {"an empty one of the user's hides nothing", L"", L"C:\\Shared", "C:/Shared", L"", L"C:\\Shared"},
        {"the user's, shortened in the user's key", L"C:\\Own\\", L"C:\\Shared\\", "C:/Own", L"C:\\Own",
         L"C:\\Shared\\"},
        {"the machine's, shortened in the machine's key", L"", L"C:\\Shared\\", "C:/Shared", L"", L"C:\\Shared"},
        {"neither: the machine's key gets the empty value", {}, {}, "", {}, L""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        DeleteKeys();
        if (row.user) Store(*row.user, HKEY_CURRENT_USER);
        if (row.machine) Store(*row.machine, HKEY_LOCAL_MACHINE);
        EXPECT_EQ(InstallStore::Registry().GetInstallFolder(), row.returned);
        EXPECT_EQ(StoredValue(HKEY_CURRENT_USER), row.userAfter);
        EXPECT_EQ(StoredValue(HKEY_LOCAL_MACHINE), row.machineAfter);
    }
}

TEST_F(RegistryStoreTest, AMissingValueReadsAsEmptyAndIsStoredEmpty) {
    EXPECT_EQ(InstallStore::Registry().GetInstallFolder(), "");
    EXPECT_EQ(StoredValue(), std::wstring());
}

TEST_F(RegistryStoreTest, ALongValueIsReadWhole) {
    const std::wstring longFolder = L"C:\\" + std::wstring(300, L'x');
    Store(longFolder);
    EXPECT_EQ(InstallStore::Registry().GetInstallFolder(), "C:/" + std::string(300, 'x'));
}

TEST_F(RegistryStoreTest, TheProgramsUseTheRegistryUnlessAStoreFileIsNamed) {
    Store(L"C:\\Quarvel");
    {
        const ScopedEnvironment environment(Variables{{"QUARVEL_CONFIG", std::nullopt}});
        const InstallStore store = InstallStore::ForPrograms();
        EXPECT_TRUE(store.InRegistry());
        EXPECT_EQ(store.Path(), "HKEY_LOCAL_MACHINE\\Software\\Nimbrel");
        EXPECT_EQ(store.GetInstallFolder(), "C:/Quarvel");
    }
    const ScopedEnvironment environment(Variables{{"QUARVEL_CONFIG", "C:/elsewhere.conf"}});
    EXPECT_FALSE(InstallStore::ForPrograms().InRegistry());
}

TEST_F(RegistryStoreTest, OtherValuesOfTheInstallationAreReadFromTheSameKey) {
    const InstallStore store = InstallStore::Registry();
    ASSERT_FALSE(store.Write("xAPI Host", "https://lms.example"));
    EXPECT_EQ(store.Read("xAPI Host"), "https://lms.example");
    EXPECT_EQ(store.Read("Missing"), std::nullopt);
    // A user whose key holds only the install folder keeps the machine's other values.
    Store(L"C:\\Own", HKEY_CURRENT_USER);
    EXPECT_EQ(store.Read("xAPI Host"), "https://lms.example");
}

}  // namespace
