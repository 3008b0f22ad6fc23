// The stub's manifest with another execution level, and the level read from a setup program's.
#include "tools/sfxpack/resources/manifest.h"

#include <gtest/gtest.h>

namespace sfx {
namespace {

TEST(Manifest, TheLevelChangesAndEverythingElseStays) {
  const std::string manifest =
      "<assembly><requestedExecutionLevel level=\"requireAdministrator\" uiAccess=\"false\"/>"
      "<assemblyIdentity name=\"Microsoft.Windows.Common-Controls\"/><activeCodePage>UTF-8</activeCodePage></assembly>";
  std::string out, error;
  ASSERT_TRUE(RewriteManifest(manifest, "asInvoker", &out, &error)) << error;
  EXPECT_EQ(out, "<assembly><requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>"
                 "<assemblyIdentity name=\"Microsoft.Windows.Common-Controls\"/><activeCodePage>UTF-8</activeCodePage>"
                 "</assembly>");
  EXPECT_EQ(ManifestExecutionLevel(out), "asInvoker");
  EXPECT_EQ(ManifestExecutionLevel("<requestedExecutionLevel uiAccess='false' level = 'highestAvailable'>"
                                   "</requestedExecutionLevel>"),
            "highestAvailable");
  EXPECT_EQ(ManifestExecutionLevel("<assembly/>"), "");
  EXPECT_FALSE(RewriteManifest("<assembly/>", "asInvoker", &out, &error));
  EXPECT_FALSE(RewriteManifest("<requestedExecutionLevel level=\"asInvoker\"/>", "asInvoker", &out, &error));
}

}  // namespace
}  // namespace sfx
