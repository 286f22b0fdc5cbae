// A host that defines host services in its own executable and exports them:
// the dynamic loader must route the module's calls to these definitions
// rather than to the stand-in library's.
#include "support/TestHost.h"

#include <gtest/gtest.h>

#include <vector>

using namespace lustra::test;

namespace {
int ownAbortChecks = 0;
std::vector<int32_t> ownLogLines;
} // namespace

extern "C" {

LFX_API int32_t opChkAbort(void) {
    ++ownAbortChecks;
    return 0;
}

LFX_API void loggerMessage(int32_t, int32_t line, const char *, uint32_t, const char *) {
    ownLogLines.push_back(line);
}

} // extern "C"

TEST(Interposition, TheExecutablesOwnServicesServeTheModule) {
    TestHost host; // serves the rest through the stand-in library
    TempHome home;
    Module module;
    module.getOperatorInfo();
    host.clip[0] = {solidFrame(6, 4, hostPixel(16, 128, 128))};
    host.clip[1] = {solidFrame(6, 4, hostPixel(200, 128, 128))};
    module.action(1);
    EXPECT_EQ(module.action(3, 0), 0);
    EXPECT_EQ(host.putFields.size(), 2u) << "fields still go through the backend";
    EXPECT_GT(ownAbortChecks, 0);
    EXPECT_EQ(host.abortChecks, 0);

    EXPECT_EQ(module.action(6), -1);
    EXPECT_EQ(ownLogLines, std::vector<int32_t>{998});
    EXPECT_TRUE(host.logLines.empty());
}
