#include "app/InstallStore.h"
#include "support/TestSupport.h"

class InstallStoreTest : public TempDirTest {
protected:
    std::string Store(const std::string& content) {
        WriteBytes(dir() / "quarvel.conf", content);
        return InstallStore((dir() / "quarvel.conf").string()).GetInstallFolder();
    }
    std::string Stored() { return ReadBytes(dir() / "quarvel.conf"); }
};

TEST_F(InstallStoreTest, TrailingSeparatorIsRemovedAndWrittenBack) {
    EXPECT_EQ(Store("# installation\nNB Path=/opt/nb/\nxAPI Host=lms.example\n"), "/opt/nb");
    EXPECT_EQ(Stored(), "# installation\nNB Path=/opt/nb\nxAPI Host=lms.example\n");
    EXPECT_EQ(InstallStore((dir() / "quarvel.conf").string()).GetInstallFolder(), "/opt/nb");
}

TEST_F(InstallStoreTest, TwoTrailingSeparatorsReturnOneAndStoreNone) {
    EXPECT_EQ(Store("NB Path=/opt/nb//\n"), "/opt/nb/");
    EXPECT_EQ(Stored(), "NB Path=/opt/nb\n");
}

TEST_F(InstallStoreTest, AValueWithoutSeparatorIsLeftAlone) {
    EXPECT_EQ(Store("NB Path=/opt/nb"), "/opt/nb");
    EXPECT_EQ(Stored(), "NB Path=/opt/nb");
}

TEST_F(InstallStoreTest, MissingValueGivesEmptyAndStoresEmpty) {
    EXPECT_EQ(Store("other=1\n"), "");
    EXPECT_EQ(Stored(), "other=1\nNB Path=\n");
    const InstallStore missing((dir() / "new.conf").string());
    EXPECT_EQ(missing.GetInstallFolder(), "");
    EXPECT_EQ(ReadBytes(dir() / "new.conf"), "NB Path=\n");
}

TEST_F(InstallStoreTest, RootGivesEmpty) {
    EXPECT_EQ(Store("NB Path=/\n"), "");
}

TEST_F(InstallStoreTest, UnwritableStoreIsLeftAsItWas) {
    const InstallStore store((dir() / "no-folder" / "quarvel.conf").string());
    EXPECT_EQ(store.GetInstallFolder(), "");
    EXPECT_FALSE(fs::exists(dir() / "no-folder"));
}
