// What an open editor started from: another writer's change is told apart from the editor's own
// writes, and a rebase keeps only the fields the operator typed.
#include "ui/edit_origin.h"

#include <gtest/gtest.h>

TEST(EditOrigin, TellsAnotherWritersChangeFromTheEditorsOwnAndRebasesOnlyUntypedFields)
{
    EditOrigin e;
    EXPECT_FALSE(e.changedElsewhere({9})) << "nothing open, nothing to guard";
    e.start({1920, 1080, 60});
    const struct {
        QVariantList written; // by the editor itself, empty: none
        QVariantList stored;
        bool elsewhere;
    } rows[] = {
        {{}, {1920, 1080, 60}, false},
        {{}, {1920, 720, 60}, true},
        {{1280, 1080, 60}, {1280, 1080, 60}, false}, // a page that applies each step
        {{1280, 1080, 60}, {1920, 1080, 60}, true},  // the start put back by someone else
    };
    for (const auto& r : rows) {
        if (!r.written.isEmpty())
            e.wrote(r.written);
        EXPECT_EQ(e.changedElsewhere(r.stored), r.elsewhere) << r.stored.at(0).toInt() << "x" << r.stored.at(1).toInt();
    }
    EXPECT_EQ(e.origin(), QVariantList({1920, 1080, 60})) << "a write moves no start";

    EXPECT_FALSE(e.changedByOperator({1920, 1080, 60}));
    // Width typed; the store moved to 1280x720@50: height and rate follow the store.
    EXPECT_EQ(e.rebase({1600, 1080, 60}, {1280, 720, 50}), QVariantList({1600, 720, 50}));
    EXPECT_EQ(e.origin(), QVariantList({1280, 720, 50}));
    EXPECT_FALSE(e.changedElsewhere({1280, 720, 50}));
    EXPECT_TRUE(e.changedByOperator({1600, 720, 50}));
    // Nothing typed: the rebase shows the store whole. Texts compare as texts.
    e.start({QStringLiteral("192.168.1.199"), QStringLiteral("255.255.255.0")});
    EXPECT_EQ(e.rebase({QStringLiteral("192.168.1.199"), QStringLiteral("255.255.255.0")},
                       {QStringLiteral("192.168.1.50"), QStringLiteral("255.255.0.0")}),
              QVariantList({QStringLiteral("192.168.1.50"), QStringLiteral("255.255.0.0")}));
    e.close();
    EXPECT_FALSE(e.isOpen());
    EXPECT_FALSE(e.changedElsewhere({QStringLiteral("10.0.0.1")}));
}
