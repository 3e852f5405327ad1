// What an open editor started from: another writer's change told apart from the editor's own
// writes, and a rebase that keeps only the fields the operator typed.
#include "ui/edit_origin.h"

#include <gtest/gtest.h>

TEST(EditOrigin, TellsAnotherWritersChangeFromTheEditorsOwnAndRebasesOnlyTypedFields)
{
    EditOrigin e;
    EXPECT_FALSE(e.changedElsewhere({9})) << "nothing open, nothing to guard";
    e.start({1920, 1080, 60});
    EXPECT_TRUE(e.changedElsewhere({1920, 720, 60}));
    e.wrote({1280, 1080, 60}); // a page that applies each step
    EXPECT_FALSE(e.changedElsewhere({1280, 1080, 60}));
    EXPECT_TRUE(e.changedElsewhere({1920, 1080, 60})) << "the start put back by another writer";
    EXPECT_FALSE(e.changedByOperator({1920, 1080, 60})) << "a write moves no start";
    // Width typed; the store moved to 1280x720@50: height and rate follow the store.
    EXPECT_EQ(e.rebase({1600, 1080, 60}, {1280, 720, 50}), QVariantList({1600, 720, 50}));
    EXPECT_FALSE(e.changedElsewhere({1280, 720, 50}));
    EXPECT_TRUE(e.changedByOperator({1600, 720, 50}));
}
