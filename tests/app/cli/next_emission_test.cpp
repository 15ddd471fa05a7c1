// A coroutine waiting for a signal that fires twice before it runs again (two Ctrl-C read at
// once): it wakes once, may end the sender at once, and its next wait is not cut short by the
// second emission.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QObject>

#include <qcoro/qcorotask.h>

#include <memory>

#include "cli/next_emission.h"

namespace orlune {
namespace {

TEST(NextEmissionTest, EmissionsTogetherWakeTheWaiterOnce) {
    auto sender = std::make_unique<QObject>();
    QObject later;
    int stage = 0;
    auto waiter = [&]() -> QCoro::Task<> {
        co_await nextEmission(sender.get(), &QObject::objectNameChanged);
        stage = 1;
        sender.reset();
        co_await nextEmission(&later, &QObject::objectNameChanged);
        stage = 2;
    };
    auto task = waiter();
    sender->setObjectName(QStringLiteral("first"));
    sender->setObjectName(QStringLiteral("second"));
    EXPECT_EQ(stage, 0) << "woken inside the emission";
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    EXPECT_EQ(stage, 1);
    later.setObjectName(QStringLiteral("now"));
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    EXPECT_EQ(stage, 2);
}

}  // namespace
}  // namespace orlune
