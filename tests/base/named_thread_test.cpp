// Worker threads carry their names, so top and gdb show which one runs.
#include "base/named_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <unistd.h>

namespace {

void* waitForRelease(void* flag)
{
    while (!static_cast<std::atomic<bool>*>(flag)->load())
        usleep(100);
    return nullptr;
}

TEST(NamedThread, ThreadRunsUnderItsNameCutToFifteenCharacters)
{
    const struct {
        const char* given;
        const char* shown;
    } rows[] = {{"networkManage", "networkManage"},
                {"fifteen_chars_x", "fifteen_chars_x"},
                {"uart_inout_4G_receive", "uart_inout_4G_r"}};
    for (const auto& row : rows) {
        std::atomic<bool> release{false};
        pthread_t t;
        ASSERT_TRUE(startNamedThread(&t, waitForRelease, &release, row.given));
        char name[32] = {};
        EXPECT_EQ(pthread_getname_np(t, name, sizeof name), 0);
        release = true;
        pthread_join(t, nullptr);
        EXPECT_STREQ(name, row.shown) << row.given;
    }
}

}
