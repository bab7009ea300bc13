#include "AccessDoubles.h"

#include "access/AccessGuidePlacement.h"
#include "access/FullDiskAccessAssistant.h"
#include "access/FullDiskAccessGuide.h"
#include "access/GuideButtonStyle.h"
#include "platform/WindowList.h"

#include <QApplication>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

using namespace velmora;
using namespace std::chrono_literals;
using access::FullDiskAccessAssistant;
using platform::WindowDescription;
using test::CountingSettingsOpener;

Q_DECLARE_METATYPE(QList<QRectF>)
Q_DECLARE_METATYPE(std::optional<QRectF>)

namespace {

// A window list that answers from a script: the settings window appears from the given
// query on (never when firstQuery is negative).
class ScriptedWindowList : public platform::WindowList
{
public:
    QRect settingsBounds{20, 20, 400, 300};
    int firstQuery = 0;
    int queries = 0;

    std::optional<QList<WindowDescription>> windows() override
    {
        const int query = queries++;
        QList<WindowDescription> list{{100, QStringLiteral("nautilus"), true, true, {0, 0, 800, 600}}};
        if (firstQuery >= 0 && query >= firstQuery)
            list.append({200, QStringLiteral("gnome-control-c"), true, true, settingsBounds});
        return list;
    }
};

WindowDescription settings(QRect bounds, bool normal = true, bool visible = true,
                           const QString &owner = QStringLiteral("gnome-control-c"))
{
    return {321, owner, normal, visible, bounds};
}

// Notes how many times the window list had been read when the panel was first shown.
class FirstShow : public QObject
{
public:
    FirstShow(QWidget *panel, const int &queries) : m_queries(queries) { panel->installEventFilter(this); }
    std::optional<int> queries;
    QRect frame; // where it was shown

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show && !queries) {
            queries = m_queries;
            frame = static_cast<QWidget *>(watched)->frameGeometry();
        }
        return false;
    }

private:
    const int &m_queries;
};

struct AssistantFixture
{
    explicit AssistantFixture(int attempts = 24)
    {
        FullDiskAccessAssistant::Dependencies deps;
        deps.appURL = QUrl::fromLocalFile(QStringLiteral("/opt/Velmora"));
        deps.settingsOpener = &opener;
        deps.windowList = &windows;
        deps.timing = {5ms, attempts, 15};
        assistant = std::make_unique<FullDiskAccessAssistant>(deps);
    }

    // Where the panel, with its present frame, goes beside the given anchor; Qt coordinates.
    QPoint placedBeside(const QRect &anchor, std::optional<QSize> size = {}) const
    {
        const auto screens = platform::ScreenLayout::current();
        const QRectF frame = access::AccessGuidePlacement::frame(
            QSizeF(size.value_or(assistant->window()->frameGeometry().size())), screens.fromTopLeft(QRectF(anchor)),
            screens.visibleFrames);
        return screens.toTopLeft(frame).topLeft().toPoint();
    }

    CountingSettingsOpener opener;
    ScriptedWindowList windows;
    std::unique_ptr<FullDiskAccessAssistant> assistant;
};

} // namespace

class TestFullDiskAccessAssistant : public QObject
{
    Q_OBJECT
private slots:
    void placement_data()
    {
        QTest::addColumn<QSizeF>("size");
        QTest::addColumn<QRectF>("anchor");
        QTest::addColumn<QList<QRectF>>("screens");
        QTest::addColumn<QRectF>("expected");
        const QSizeF panel(356, 410);
        const QRectF laptop(0, 0, 1440, 875);
        const QRectF second(1440, 0, 1920, 1080);

        // Below would clamp to 544, 12 and overlap the anchor; right of it is free.
        QTest::newRow("800x600 anchor") << panel << QRectF(100, 200, 800, 600) << QList<QRectF>{laptop}
                                        << QRectF(912, 390, 356, 410);
        // Every candidate overlaps fully; the first (below) wins: bottom-right corner of B.
        QTest::newRow("full-screen anchor") << panel << laptop << QList<QRectF>{laptop} << QRectF(1072, 12, 356, 410);
        // Mostly on the second screen: clamped into its area (right edge 3360 - 12), and of
        // the overlapping candidates the one overlapping least (right, tied with left).
        QTest::newRow("two screens") << panel << QRectF(1500, 50, 1800, 1000) << QList<QRectF>{laptop, second}
                                     << QRectF(2992, 640, 356, 410);
        // Without screens the anchor inset by 12 bounds the panel.
        QTest::newRow("no screens") << panel << QRectF(100, 200, 800, 600) << QList<QRectF>{} << QRectF(532, 212, 356, 410);
        // An anchor on no screen uses the first screen.
        QTest::newRow("anchor off every screen")
            << panel << QRectF(5000, 5000, 400, 300) << QList<QRectF>{laptop, second} << QRectF(1072, 453, 356, 410);
        // A panel larger than the bounds keeps to their left and bottom edges.
        QTest::newRow("panel larger than the screen")
            << panel << QRectF(0, 0, 100, 100) << QList<QRectF>{QRectF(0, 0, 300, 300)} << QRectF(12, 12, 356, 410);
    }

    void placement()
    {
        QFETCH(QSizeF, size);
        QFETCH(QRectF, anchor);
        QFETCH(QList<QRectF>, screens);
        QFETCH(QRectF, expected);
        QCOMPARE(access::AccessGuidePlacement::frame(size, anchor, screens), expected);
    }

    void settingsWindowChoice_data()
    {
        QTest::addColumn<QList<WindowDescription>>("windows");
        QTest::addColumn<std::optional<QRectF>>("expected");
        const QRect big(100, 50, 800, 600); // top-left coordinates; bottom-left y = 900 - 650
        QTest::newRow("settings window") << QList{settings(big)} << std::optional(QRectF(100, 250, 800, 600));
        QTest::newRow("full kernel name") << QList{settings(big, true, true, QStringLiteral("systemsettings"))}
                                          << std::optional(QRectF(100, 250, 800, 600));
        QTest::newRow("390 wide is ignored, a later large one used")
            << QList{settings({0, 0, 390, 700}), settings(big)} << std::optional(QRectF(100, 250, 800, 600));
        QTest::newRow("front-most wins") << QList{settings({10, 10, 400, 300}), settings(big)}
                                         << std::optional(QRectF(10, 590, 400, 300));
        QTest::newRow("299 high") << QList{settings({0, 0, 900, 299})} << std::optional<QRectF>();
        QTest::newRow("dialog") << QList{settings(big, false)} << std::optional<QRectF>();
        QTest::newRow("minimised") << QList{settings(big, true, false)} << std::optional<QRectF>();
        QTest::newRow("another application")
            << QList{settings(big, true, true, QStringLiteral("firefox"))} << std::optional<QRectF>();
        QTest::newRow("no windows") << QList<WindowDescription>{} << std::optional<QRectF>();
    }

    void settingsWindowChoice()
    {
        QFETCH(QList<WindowDescription>, windows);
        QFETCH(std::optional<QRectF>, expected);
        platform::ScreenLayout screens;
        screens.mirrorLine = 900;
        screens.frames = {QRectF(0, 0, 1440, 900)};
        screens.visibleFrames = screens.frames;
        QCOMPARE(FullDiskAccessAssistant::settingsWindowFrame(windows, screens), expected);
    }

    void noWindowListOrNoScreensMeansNoSettingsWindow()
    {
        platform::ScreenLayout screens;
        screens.mirrorLine = 900;
        screens.frames = {QRectF(0, 0, 1440, 900)};
        QVERIFY(!FullDiskAccessAssistant::settingsWindowFrame(std::nullopt, screens));
        QVERIFY(!FullDiskAccessAssistant::settingsWindowFrame(QList{settings({0, 0, 800, 600})}, platform::ScreenLayout{}));
    }

    void panelIsAFloatingUtilityWindow()
    {
        AssistantFixture f;
        QWidget *panel = f.assistant->window();
        QVERIFY(panel);
        QCOMPARE(panel->windowTitle(), QStringLiteral("Velmora"));
        QCOMPARE(panel->size(), QSize(356, 410));
        QVERIFY(panel->windowFlags() & Qt::Tool);
        QVERIFY(panel->windowFlags() & Qt::WindowStaysOnTopHint);
        QVERIFY(!(panel->windowFlags() & Qt::WindowMinimizeButtonHint));
        QVERIFY(!panel->testAttribute(Qt::WA_DeleteOnClose));
        QVERIFY(panel->findChild<access::FullDiskAccessGuide *>());
    }

    void loopEndsOnAUserMoveOfMoreThanOnePoint()
    {
        AssistantFixture f(/*attempts=*/1000000);
        QSignalSpy ended(f.assistant.get(), &FullDiskAccessAssistant::placementEnded);
        QVERIFY(f.assistant->openSettingsAndPositionGuide());
        QWidget *panel = f.assistant->window();
        QTRY_VERIFY_WITH_TIMEOUT(panel->isVisible(), test::patience);
        const QPoint beside = f.placedBeside(f.windows.settingsBounds);
        QTRY_COMPARE_WITH_TIMEOUT(panel->pos(), beside, test::patience);

        // One point is not a move: the loop goes on and puts the panel back.
        panel->move(beside + QPoint(1, 0));
        const int queriesAfterNudge = f.windows.queries;
        QTRY_VERIFY_WITH_TIMEOUT(f.windows.queries > queriesAfterNudge + 1, test::patience);
        QTRY_COMPARE_WITH_TIMEOUT(panel->pos(), beside, test::patience);
        QVERIFY(f.assistant->isPlacing());
        QCOMPARE(ended.count(), 0);

        // Two points are: the loop ends and the panel stays where the user left it.
        panel->move(beside + QPoint(0, 2));
        QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, test::patience);
        QVERIFY(!f.assistant->isPlacing());
        const int queriesAtEnd = f.windows.queries;
        QCoreApplication::processEvents();
        QCOMPARE(panel->pos(), beside + QPoint(0, 2));
        QCOMPARE(f.windows.queries, queriesAtEnd);
    }

    void fallbackPlacesBesideTheParentThenFollowsTheSettingsWindow()
    {
        AssistantFixture f;
        f.windows.firstQuery = 20; // listed only after the fallback
        QWidget parent;
        parent.setGeometry(300, 100, 200, 150);
        parent.show();
        f.assistant->parentWindow = &parent;
        QSignalSpy ended(f.assistant.get(), &FullDiskAccessAssistant::placementEnded);
        f.opener.answer = false;

        QWidget *panel = f.assistant->window();
        FirstShow shown(panel, f.windows.queries);
        QVERIFY(!f.assistant->openSettingsAndPositionGuide()); // nothing opened; placed anyway
        QTRY_VERIFY_WITH_TIMEOUT(panel->isVisible(), test::patience);
        // Shown first on attempt 15, the 16th look at the window list, beside the parent.
        QCOMPARE(shown.queries, std::optional(16));
        // Before its first show the panel knows no window decorations: it is placed by its
        // content size, and the platform's frame (2 points here) may shift it once shown.
        const QPoint besideParent = f.placedBeside(parent.frameGeometry(), FullDiskAccessAssistant::panelSize);
        QVERIFY2((shown.frame.topLeft() - besideParent).manhattanLength() <= 4,
                 qPrintable(QStringLiteral("%1,%2").arg(shown.frame.x()).arg(shown.frame.y())));

        QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, test::patience);
        QCOMPARE(f.windows.queries, 24);
        // Then beside the settings window as soon as it is listed.
        QCOMPARE(panel->pos(), f.placedBeside(f.windows.settingsBounds));
    }

    void withoutParentTheFallbackUsesTheMainScreen()
    {
        AssistantFixture f;
        f.windows.firstQuery = -1;
        QSignalSpy ended(f.assistant.get(), &FullDiskAccessAssistant::placementEnded);
        FirstShow shown(f.assistant->window(), f.windows.queries);
        f.assistant->openSettingsAndPositionGuide();
        QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, test::patience);
        QCOMPARE(f.windows.queries, 24);
        QCOMPARE(shown.queries, std::optional(16));
        QVERIFY(f.assistant->window()->isVisible());
        const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
        QCOMPARE(f.assistant->window()->pos(), f.placedBeside(available, FullDiskAccessAssistant::panelSize));
    }

    void closeEndsThePresentationInOrder()
    {
        AssistantFixture f(/*attempts=*/1000000);
        QWidget parent;
        parent.resize(300, 200);
        QWidget other;
        other.show();
        other.activateWindow();
        QTRY_COMPARE_WITH_TIMEOUT(QApplication::activeWindow(), &other, test::patience);

        int completions = 0;
        bool placingWhenCompleted = true;
        bool parentShownWhenCompleted = false;
        f.assistant->onComplete = [&] {
            ++completions;
            placingWhenCompleted = f.assistant->isPlacing();
            parentShownWhenCompleted = parent.isVisible();
            QVERIFY(!f.assistant->onComplete); // cleared before it runs
        };
        f.assistant->parentWindow = &parent;
        f.assistant->openSettingsAndPositionGuide();
        QTRY_VERIFY_WITH_TIMEOUT(f.assistant->window()->isVisible(), test::patience);

        // "설정 다시 열기" starts over but keeps the stored completion.
        auto *guide = f.assistant->window()->findChild<access::FullDiskAccessGuide *>();
        QTest::mouseClick(guide->reopenButton(), Qt::LeftButton);
        QCOMPARE(f.opener.opened, 2);
        QVERIFY(f.assistant->onComplete);
        QTRY_VERIFY_WITH_TIMEOUT(f.assistant->window()->isVisible(), test::patience);

        QTest::mouseClick(guide->doneButton(), Qt::LeftButton);
        QCOMPARE(completions, 1);
        QVERIFY(!placingWhenCompleted);
        QVERIFY(parentShownWhenCompleted);
        QTRY_COMPARE_WITH_TIMEOUT(QApplication::activeWindow(), &parent, test::patience);
        QVERIFY(!f.assistant->window()->isVisible());
        QVERIFY(f.assistant->window()); // hidden, not destroyed

        f.assistant->close();
        QCOMPARE(completions, 1);
    }

    void goneParentIsSkippedAndCompletionStillRuns()
    {
        AssistantFixture f;
        int completions = 0;
        f.assistant->onComplete = [&] { ++completions; };
        {
            QWidget parent;
            f.assistant->parentWindow = &parent;
        }
        f.assistant->openSettingsAndPositionGuide();
        f.assistant->close();
        QCOMPARE(completions, 1);
    }

    void withoutItsPanelTheAssistantDoesNothing()
    {
        AssistantFixture f;
        delete f.assistant->window();
        QVERIFY(!f.assistant->window());
        QVERIFY(!f.assistant->openSettingsAndPositionGuide());
        QCOMPARE(f.opener.opened, 0);
    }

    void settingsCommandsForTheDesktop_data()
    {
        QTest::addColumn<QString>("desktop");
        QTest::addColumn<int>("plasma");
        QTest::addColumn<QString>("first");
        QTest::newRow("GNOME") << "GNOME" << 0 << "gnome-control-center applications";
        QTest::newRow("Ubuntu") << "ubuntu:GNOME" << 0 << "gnome-control-center applications";
        QTest::newRow("Plasma 6") << "KDE" << 6 << "systemsettings kcm_app-permissions";
        QTest::newRow("Plasma 5") << "KDE" << 5 << "systemsettings kcm_flatpak";
        QTest::newRow("Xfce has no such page") << "XFCE" << 0 << "";
        QTest::newRow("unknown session") << "" << 0 << "";
    }

    void settingsCommandsForTheDesktop()
    {
        QFETCH(QString, desktop);
        QFETCH(int, plasma);
        QFETCH(QString, first);
        const auto commands = platform::SettingsOpener::privacySettingsCommands(desktop, plasma);
        QCOMPARE(commands.isEmpty() ? QString() : commands.first().program + u' ' + commands.first().arguments.join(u' '),
                 first);
    }
};

QTEST_MAIN(TestFullDiskAccessAssistant)
#include "tst_fulldiskaccessassistant.moc"
