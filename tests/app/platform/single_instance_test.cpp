// The single-window lock in a temporary runtime directory: the first start holds it, a second
// start reaches the first and asks for its window, an ended first start leaves nothing that
// blocks the next one, and a second start with nobody answering gives up.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QTemporaryDir>

#include <future>

#include "platform/single_instance.h"

namespace orlune {
namespace {

TEST(SingleInstanceTest, SecondStartReachesTheFirstAndTheLockEndsWithItsHolder) {
    QTemporaryDir runtime;
    ASSERT_TRUE(runtime.isValid());
    auto first = std::make_unique<SingleInstance>(runtime.path());
    EXPECT_EQ(first->role(), SingleInstance::Role::first);
    EXPECT_EQ(first->problem(), QString());
    int activations = 0;
    QObject::connect(first.get(), &SingleInstance::activationRequested, [&] { ++activations; });

    // The second start blocks while it waits for the answer: it runs beside this event loop.
    SingleInstance second(runtime.path());
    ASSERT_EQ(second.role(), SingleInstance::Role::second);
    auto answered = std::async(std::launch::async, [&] { return second.activateFirst(5000); });
    QDeadlineTimer deadline(5000);
    while (answered.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    EXPECT_TRUE(answered.get());
    EXPECT_EQ(activations, 1);

    // The holder ends (a crash leaves its socket file behind): the next start is the first again.
    first.reset();
    QFile stale(runtime.filePath("orlune-vpn.window"));
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    stale.close();
    EXPECT_FALSE(second.activateFirst(300));
    SingleInstance next(runtime.path());
    EXPECT_EQ(next.role(), SingleInstance::Role::first);
    EXPECT_EQ(next.problem(), QString());
}

}  // namespace
}  // namespace orlune
