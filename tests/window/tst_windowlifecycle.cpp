// The close guard on real top-level windows of an X server of the test's own: the window
// manager's close requests, the answers of the activity question, and the restoring of the
// hidden window (mapped again, with the input focus).
#include "TestSupport.h"
#include "VirtualDisplay.h"

#include "window/WindowLifecycleCoordinator.h"
#include "window/WindowLifecycleView.h"

#include <QApplication>
#include <QCloseEvent>
#include <QPointer>
#include <QTest>
#include <QVBoxLayout>

#include <QCoro/QCoroSignal>

#include <cstdio>
#include <memory>
#include <optional>

using namespace velmora;
using test::patience;
using window::WindowLifecycleView;

Q_DECLARE_METATYPE(std::optional<bool>)

namespace {

// The activity question, answered only when the test releases it.
class HeldAnswer : public QObject
{
    Q_OBJECT
public:
    int asked = 0;
    std::optional<bool> answer;

    WindowLifecycleView::ActiveWork question()
    {
        return [this]() -> QCoro::Task<std::optional<bool>> {
            ++asked;
            QPointer<HeldAnswer> self(this);
            co_await qCoro(this, &HeldAnswer::released, std::chrono::milliseconds(patience));
            co_return self ? self->answer : std::nullopt;
        };
    }
    void release(std::optional<bool> value)
    {
        answer = value;
        emit released();
    }

signals:
    void released();
};

QByteArray display()
{
    return qgetenv("DISPLAY");
}

// The window manager's close request (the title bar's button).
bool requestClose(QWidget &window)
{
    return test::sendCloseRequest(display(), quint32(window.winId()));
}

// Counts the window system's close requests a window has received (installed after the
// guard, so it sees each one before the guard takes it).
class CloseRequests : public QObject
{
public:
    int received = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Close && event->spontaneous())
            ++received;
        return false;
    }
};

// A top-level window with content and the guard behind it, as the main window has them.
struct GuardedWindow
{
    explicit GuardedWindow(HeldAnswer &answer)
    {
        window = std::make_unique<QWidget>();
        auto *layout = new QVBoxLayout(window.get());
        content = new QWidget(window.get());
        layout->addWidget(content);
        guard = new WindowLifecycleView(
            answer.question(), [this] { ++quits; }, window.get());
        window->resize(640, 480);
    }

    std::unique_ptr<QWidget> window;
    QWidget *content = nullptr;
    WindowLifecycleView *guard = nullptr;
    int quits = 0;
};

} // namespace

class TestWindowLifecycle : public QObject
{
    Q_OBJECT
private slots:
    void theGuardTagsTheWindowItLivesIn()
    {
        HeldAnswer answer;
        GuardedWindow guarded(answer);
        QCOMPARE(guarded.window->objectName(), QStringLiteral("velmora.workspace"));
        QCOMPARE(guarded.guard->coordinator()->window(), guarded.window.get());

        // Moved within its window, the guard keeps serving it once: one close, one question.
        guarded.guard->setParent(guarded.content);
        guarded.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(guarded.window.get()));
        QVERIFY(requestClose(*guarded.window));
        QTRY_COMPARE_WITH_TIMEOUT(answer.asked, 1, patience);
        answer.release(true);
        QTRY_VERIFY_WITH_TIMEOUT(!guarded.window->isVisible(), patience);
        QCOMPARE(answer.asked, 1);
    }

    void closeRequestsAskOnceAndFollowTheAnswer_data()
    {
        QTest::addColumn<std::optional<bool>>("answer");
        QTest::addColumn<bool>("hidden");
        QTest::newRow("busy: hidden") << std::optional<bool>(true) << true;
        QTest::newRow("undetermined (no answer in time): hidden") << std::optional<bool>() << true;
        QTest::newRow("idle: quit") << std::optional<bool>(false) << false;
    }

    void closeRequestsAskOnceAndFollowTheAnswer()
    {
        QFETCH(std::optional<bool>, answer);
        QFETCH(bool, hidden);
        HeldAnswer held;
        GuardedWindow guarded(held);
        QWidget *const window = guarded.window.get();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        CloseRequests closes;
        window->installEventFilter(&closes);

        // Two quick clicks: the window stays, and only the first one asks. Both must have
        // arrived before the answer is released, or the second would start a check of its own.
        QVERIFY(requestClose(*window));
        QVERIFY(requestClose(*window));
        QTRY_COMPARE_WITH_TIMEOUT(closes.received, 2, patience);
        QCOMPARE(held.asked, 1);
        QVERIFY(guarded.guard->coordinator()->isChecking());
        QVERIFY(window->isVisible());
        QVERIFY(test::isMapped(display(), quint32(window->winId())));

        held.release(answer);
        QTRY_VERIFY_WITH_TIMEOUT(!guarded.guard->coordinator()->isChecking(), patience);
        QCOMPARE(window->isVisible(), !hidden);
        QTRY_COMPARE_WITH_TIMEOUT(test::isMapped(display(), quint32(window->winId())), !hidden, patience);
        QCOMPARE(guarded.quits, hidden ? 0 : 1);
        // Hidden, not closed: the same window, still tagged, still holding its content.
        QCOMPARE(guarded.window.get(), window);
        QCOMPARE(window->objectName(), WindowLifecycleView::windowID);
        QCOMPARE(guarded.content->parentWidget(), window);

        // A later click asks again.
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QVERIFY(requestClose(*window));
        QTRY_COMPARE_WITH_TIMEOUT(held.asked, 2, patience);
        held.release(answer);
        QTRY_VERIFY_WITH_TIMEOUT(!guarded.guard->coordinator()->isChecking(), patience);
    }

    void closesTheApplicationMakesItselfGoThrough()
    {
        // Quitting closes every window first; the quit command and the termination signals
        // must not wait for the backend's answer.
        HeldAnswer held;
        GuardedWindow guarded(held);
        guarded.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(guarded.window.get()));
        QVERIFY(guarded.window->close());
        QVERIFY(!guarded.window->isVisible());
        QCOMPARE(held.asked, 0);
        QCOMPARE(guarded.quits, 0);
    }

    void theWindowsOtherBehaviourStays()
    {
        HeldAnswer held;
        GuardedWindow guarded(held);
        // Whatever watched the window before the guard still sees its events.
        class Watcher : public QObject
        {
        public:
            int resizes = 0;
            bool eventFilter(QObject *, QEvent *event) override
            {
                resizes += event->type() == QEvent::Resize;
                return false;
            }
        } watcher;
        auto other = std::make_unique<QWidget>();
        other->installEventFilter(&watcher);
        auto *lateGuard = new WindowLifecycleView(
            held.question(), [] {}, other.get());
        QCOMPARE(lateGuard->coordinator()->window(), other.get());
        other->resize(500, 400);
        other->show();
        QVERIFY(QTest::qWaitForWindowExposed(other.get()));
        other->resize(520, 410);
        QTRY_COMPARE_WITH_TIMEOUT(other->size(), QSize(520, 410), patience);
        QVERIFY(watcher.resizes >= 2);
        // The guard takes no room and no input of its own.
        QCOMPARE(lateGuard->size(), QSize(0, 0));
        QVERIFY(lateGuard->testAttribute(Qt::WA_TransparentForMouseEvents));
    }

    void anAnswerForAWindowThatIsGoneChangesNothing()
    {
        HeldAnswer held;
        int quits = 0;
        auto window = std::make_unique<QWidget>();
        new WindowLifecycleView(
            held.question(), [&quits] { ++quits; }, window.get());
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QVERIFY(requestClose(*window));
        QTRY_COMPARE_WITH_TIMEOUT(held.asked, 1, patience);

        // The window, and with it the guard, go while the question is open.
        window.reset();
        held.release(false);
        test::drainEvents();
        QCOMPARE(held.asked, 1);
        QCOMPARE(quits, 0);
    }

    void restoringBringsTheSameWindowBackInFront()
    {
        HeldAnswer held;
        GuardedWindow guarded(held);
        QWidget *const window = guarded.window.get();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QVERIFY(requestClose(*window));
        QTRY_COMPARE_WITH_TIMEOUT(held.asked, 1, patience);
        held.release(true);
        QTRY_VERIFY_WITH_TIMEOUT(!window->isVisible(), patience);

        QWidget other;
        other.resize(300, 200);
        other.show();
        other.activateWindow();
        QTRY_COMPARE_WITH_TIMEOUT(QApplication::activeWindow(), &other, patience);

        QVERIFY(WindowLifecycleView::restoreWindows(QApplication::topLevelWidgets()));
        QVERIFY(window->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(test::isMapped(display(), quint32(window->winId())), patience);
        QTRY_COMPARE_WITH_TIMEOUT(QApplication::activeWindow(), window, patience);
        QTRY_COMPARE_WITH_TIMEOUT(test::focusedWindow(display()), quint32(window->winId()), patience);
        QCOMPARE(window->objectName(), WindowLifecycleView::windowID);
    }

    void restoringWithoutTheWindowDoesNothing()
    {
        QWidget plain;
        plain.setObjectName(QStringLiteral("something-else"));
        QWidget active;
        active.show();
        active.activateWindow();
        QTRY_COMPARE_WITH_TIMEOUT(QApplication::activeWindow(), &active, patience);

        QVERIFY(!WindowLifecycleView::restoreWindows({&plain, nullptr}));
        QVERIFY(!plain.isVisible());
        test::drainEvents();
        QCOMPARE(QApplication::activeWindow(), &active);
    }
};

int main(int argc, char **argv)
{
    // Before the application object, which connects to it.
    test::VirtualDisplay x11;
    if (!x11.isRunning()) {
        std::fputs("tst_windowlifecycle: Xvfb could not be started\n", stderr);
        return 1;
    }
    QApplication application(argc, argv);
    TestWindowLifecycle test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_windowlifecycle.moc"
