// The Windows build links libzip and libxml2 as Linux does: the options that
// need them are taken, not refused.
#include "app/QuarvelRun.h"
#include "support/TestSupport.h"
#include "writers/OptionalWriters.h"

namespace {

TEST(OptionalWritersTest, UploadPackagesAndTheSchemaCheckAreTaken) {
    EXPECT_TRUE(HasUploadPackages());
    EXPECT_TRUE(HasSchemaCheck());
    CourseSettings settings = DefaultOkSettings();
    settings.zipPackages = true;
    settings.validatePackages = true;
    EXPECT_EQ(RefusedOptionMessage(settings), "");
}

}  // namespace
