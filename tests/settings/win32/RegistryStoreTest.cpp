// The install folder from the registry value "NB Path" under
// HKEY_LOCAL_MACHINE\Software\Nimbrel, with its trailing-backslash rules.
#include <windows.h>

#include "app/InstallStore.h"
#include "platform/InstallRegistry.h"
#include "support/TestSupport.h"

namespace {

const wchar_t* const kKey = L"Software\\Nimbrel";
using Variables = std::map<std::string, std::optional<std::string>>;

// The value as stored, or nothing when it is missing.
std::optional<std::wstring> StoredValue() {
    wchar_t buffer[1024] = {};
    DWORD size = sizeof buffer;
    DWORD type = 0;
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, kKey, L"NB Path", RRF_RT_ANY, &type, buffer, &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    return std::wstring(buffer);
}

// Puts the key as a test needs it and takes it away afterwards.
class RegistryStoreTest : public ::testing::Test {
protected:
    void SetUp() override { ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kKey); }
    void TearDown() override { ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kKey); }
    static void Store(const std::wstring& value) {
        ASSERT_EQ(::RegSetKeyValueW(HKEY_LOCAL_MACHINE, kKey, L"NB Path", REG_SZ, value.c_str(),
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
}

}  // namespace
