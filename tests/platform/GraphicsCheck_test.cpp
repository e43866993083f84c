#include "platform/GraphicsCheck.h"

#include <gtest/gtest.h>

namespace rq::platform {
namespace {

TEST(GraphicsCheckTest, AllLibrariesMustLoad) {
  EXPECT_TRUE(GraphicsLibrariesPresent()) << "the stress programs' libraries are installed here";
  {
    const std::vector<std::string> withMissing = {GraphicsLibraries().front(), "librq-missing.so.8"};
    ScopedGraphicsLibraries missing(withMissing);
    EXPECT_EQ(GraphicsLibraries(), withMissing);
    EXPECT_FALSE(GraphicsLibrariesPresent());
    {
      ScopedGraphicsLibraries nested({"libc.so.6"});
      EXPECT_TRUE(GraphicsLibrariesPresent());
    }
    EXPECT_FALSE(GraphicsLibrariesPresent());
  }
  EXPECT_EQ(GraphicsLibraries(), (std::vector<std::string>{"libGL.so.1", "libxcb.so.1"}));
}

}  // namespace
}  // namespace rq::platform
