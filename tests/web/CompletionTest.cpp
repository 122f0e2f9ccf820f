// A completion holds the module lock from its making until its request handle is gone: until then the
// platform may still call this module's status callback, and DllCanUnloadNow must answer S_FALSE.
#include "base/ModuleLife.h"
#include "web/Completion.h"

#include <gtest/gtest.h>

namespace tamsel::web {
namespace {

TEST(Completion, HoldsTheModuleUntilThePlatformSaysItsHandleIsClosing) {
    ASSERT_EQ(CanUnloadNow(), S_OK) << "something else holds the module";
    Completion* completion = Completion::Create();
    ASSERT_NE(completion, nullptr);
    EXPECT_EQ(CanUnloadNow(), S_FALSE) << "a completion that may still be called back holds the module";

    completion->Arm();
    INTERNET_ASYNC_RESULT result = {TRUE, ERROR_SUCCESS};
    Completion::OnStatus(nullptr, completion->Context(), INTERNET_STATUS_REQUEST_COMPLETE, &result, sizeof result);
    EXPECT_TRUE(completion->Wait(0)) << "the completion was not told";
    EXPECT_EQ(CanUnloadNow(), S_FALSE) << "an operation that completed leaves its handle open";

    Completion::OnStatus(nullptr, completion->Context(), INTERNET_STATUS_HANDLE_CLOSING, nullptr, 0);
    EXPECT_EQ(CanUnloadNow(), S_OK) << "the handle's last callback lets the module go";
}

TEST(Completion, OneDiscardedForAHandleNeverOpenedLetsTheModuleGo) {
    Completion* first = Completion::Create();
    Completion* second = Completion::Create();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    first->Discard();
    EXPECT_EQ(CanUnloadNow(), S_FALSE) << "the other completion still holds the module";
    second->Discard();
    EXPECT_EQ(CanUnloadNow(), S_OK);
}

}  // namespace
}  // namespace tamsel::web
