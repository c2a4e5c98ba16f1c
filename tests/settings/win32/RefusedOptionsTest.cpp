// The Windows build has no zip or schema library: the options that need them
// are refused before a run, never ignored.
#include "app/QuarvelRun.h"
#include "support/TestSupport.h"
#include "writers/OptionalWriters.h"

namespace {

TEST(RefusedOptionsTest, EachOptionWithoutItsWriterIsNamed) {
    EXPECT_FALSE(HasUploadPackages());
    EXPECT_FALSE(HasSchemaCheck());
    CourseSettings settings = DefaultOkSettings();
    EXPECT_EQ(RefusedOptionMessage(settings), "");
    settings.zipPackages = true;
    EXPECT_NE(RefusedOptionMessage(settings).find("'zipPackages'"), std::string::npos);
    settings.zipPackages = false;
    settings.validatePackages = true;
    EXPECT_NE(RefusedOptionMessage(settings).find("'validatePackages'"), std::string::npos);
}

}  // namespace
