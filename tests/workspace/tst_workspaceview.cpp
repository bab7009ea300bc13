#include "DownloadDoubles.h"
#include "PageLoad.h"
#include "PageScript.h"
#include "RecordingUrlOpener.h"
#include "TestSupport.h"

#include "app/Drawing.h"
#include "backend/BackendController.h"
#include "workspace/PageScripts.h"
#include "workspace/WorkspaceView.h"
#include "workspace/WorkspaceViewCoordinator.h"

#include <QApplication>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QWebEngineView>

#include <csignal>
#include <memory>

using namespace velmora;
using namespace std::chrono_literals;
using workspace::WorkspaceView;

namespace {

using test::evaluate;
using test::patience;

QByteArray startPage(quint16 otherPort)
{
    const QByteArray other = "http://127.0.0.1:" + QByteArray::number(otherPort);
    return "<!doctype html><html><head><meta charset=utf-8><style>"
           "a, button { display: block; width: 320px; height: 36px; margin: 4px; }"
           "</style></head><body>"
           "<a id=same href='/second'>same</a>"
           "<a id=other href='"
           + other
           + "/clicked'>other port</a>"
             "<a id=secure href='https://127.0.0.1:"
           + QByteArray::number(otherPort)
           + "/secure'>https</a>"
             "<a id=mail href='mailto:someone@example.com'>mail</a>"
             "<a id=blank target=_blank href='"
           + other
           + "/blank'>blank</a>"
             "<button id=jump onclick=\"location.href='"
           + other
           + "/jump'\">jump</button>"
             "<a id=hijack href='/second' onclick=\"event.preventDefault(); location.href='"
           + other
           + "/hijack'\">hijack</a>"
             "<button id=popup onclick=\"window.open('"
           + other
           + "/popup')\">popup</button>"
             "<iframe id=frame src='/frame' style='width: 320px; height: 60px; border: 0'></iframe>"
             "</body></html>";
}

test::HttpReply html(const QByteArray &body)
{
    return test::HttpReply{200, body, {{"Content-Type", "text/html; charset=utf-8"}}, false};
}

} // namespace

class TestWorkspaceView : public QObject
{
    Q_OBJECT

    std::unique_ptr<test::LoopbackHttpServer> m_origin;
    std::unique_ptr<test::LoopbackHttpServer> m_other;
    test::RecordingUrlOpener m_opener;
    test::AnsweringSavePanel m_savePanel;
    std::unique_ptr<WorkspaceView> m_view;

    QUrl page(const QString &path) const { return m_origin->baseUrl().resolved(QUrl(path)); }
    QUrl other(const QString &path) const { return m_other->baseUrl().resolved(QUrl(path)); }
    WorkspaceView::Coordinator *coordinator() const { return m_view->coordinator(); }

    // Shows the start page in a visible view and waits until it has loaded.
    bool openStartPage(platform::SavePanel *savePanel = nullptr)
    {
        workspace::WorkspaceViewDependencies deps;
        deps.opener = &m_opener;
        deps.downloads.savePanel = savePanel;
        m_view = std::make_unique<WorkspaceView>(m_origin->baseUrl(), deps);
        return test::showAndWaitForLoad(*m_view, QSize(800, 600), test::PageReady::ForInput);
    }

    // A real click, as the user's mouse makes it, at the centre of the element with this id.
    void click(const QString &id)
    {
        const QVariantList centre = evaluate(coordinator(),
                                             QStringLiteral("(() => { const r = document.getElementById('%1')"
                                                            ".getBoundingClientRect();"
                                                            " return [r.left + r.width / 2, r.top + r.height / 2]; })()")
                                                 .arg(id))
                                        .toList();
        QVERIFY(centre.size() == 2);
        const QPoint at(centre.at(0).toInt(), centre.at(1).toInt());
        QWidget *target = m_view->webView()->focusProxy();
        QTest::mouseMove(target, at);
        QTest::mouseClick(target, Qt::LeftButton, {}, at);
    }

    // Waits until the coordinator has answered a request for url; returns that answer's flags.
    static std::optional<std::pair<bool, bool>> waitForDecision(QSignalSpy &decided, const QUrl &url)
    {
        std::optional<std::pair<bool, bool>> answer;
        (void)QTest::qWaitFor(
            [&] {
                for (const QList<QVariant> &args : std::as_const(decided)) {
                    if (args.at(0).toUrl() == url)
                        answer = std::pair(args.at(1).toBool(), args.at(2).toBool());
                }
                return answer.has_value();
            },
            patience);
        return answer;
    }

private slots:
    void init()
    {
        m_opener.opened.clear();
        m_other = std::make_unique<test::LoopbackHttpServer>();
        QVERIFY(m_other->listen());
        m_other->setHandler([](const QByteArray &, const QString &) { return html("<p>other site</p>"); });
        m_origin = std::make_unique<test::LoopbackHttpServer>();
        QVERIFY(m_origin->listen());
        const quint16 otherPort = m_other->port();
        m_origin->setHandler([otherPort](const QByteArray &, const QString &path) {
            if (path == QLatin1String("/"))
                return html(startPage(otherPort));
            if (path == QLatin1String("/frame"))
                return html("<body style='margin: 0'><a href='http://127.0.0.1:" + QByteArray::number(otherPort)
                            + "/framed' style='display: block; height: 60px'>in a frame</a></body>");
            if (path.startsWith(QLatin1String("/second")))
                return html("<p>second</p>");
            if (path == QLatin1String("/files/notes.txt"))
                return test::HttpReply{
                    200,
                    "text",
                    {{"Content-Type", "text/plain"}, {"Content-Disposition", "Attachment; filename=\"notes.txt\""}},
                    false};
            if (path == QLatin1String("/files/plain.txt"))
                return test::HttpReply{200, "plain", {{"Content-Type", "text/plain"}}, false};
            if (path == QLatin1String("/files/data.bin"))
                return test::HttpReply{200, QByteArray(64, '\1'), {{"Content-Type", "application/octet-stream"}}, false};
            if (path == QLatin1String("/hang"))
                return test::HttpReply{200, {}, {}, true};
            return test::HttpReply{404, "not found", {}, false};
        });
    }

    void cleanup()
    {
        m_view.reset();
        m_origin.reset();
        m_other.reset();
    }

    void sameOriginNavigationStaysInTheView()
    {
        QVERIFY(openStartPage());
        QSignalSpy decided(coordinator(), &WorkspaceView::Coordinator::navigationDecided);
        evaluate(coordinator(), QStringLiteral("location.href = '/second?x=1'"));
        QTRY_COMPARE_WITH_TIMEOUT(coordinator()->url(), page("/second?x=1"), patience);
        QCOMPARE(waitForDecision(decided, page("/second?x=1")), std::optional(std::pair(true, false)));
        QVERIFY(m_opener.opened.isEmpty());
    }

    void scriptJumpToAnotherOriginIsCancelledAndOpensNothing()
    {
        QVERIFY(openStartPage());
        QSignalSpy decided(coordinator(), &WorkspaceView::Coordinator::navigationDecided);
        evaluate(coordinator(), QStringLiteral("location.href = '%1'").arg(other("/scripted").toString()));
        QCOMPARE(waitForDecision(decided, other("/scripted")), std::optional(std::pair(false, false)));
        QVERIFY(m_opener.opened.isEmpty());
        QVERIFY(m_other->requests().isEmpty());
        QCOMPARE(coordinator()->url(), m_origin->baseUrl().resolved(QUrl("/")));
    }

    void clickedElements_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("target");
        QTest::addColumn<bool>("opensInBrowser");
        QTest::newRow("link to another port") << "other"
                                              << "/clicked" << true;
        QTest::newRow("https link") << "secure"
                                    << "https:/secure" << true;
        QTest::newRow("target=_blank link to another port") << "blank"
                                                            << "/blank" << true;
        QTest::newRow("link inside an embedded frame") << "frame"
                                                       << "/framed" << true;
        QTest::newRow("script jump from a clicked button") << "jump"
                                                           << "/jump" << false;
        QTest::newRow("script jump from a clicked link's handler") << "hijack"
                                                                   << "/hijack" << false;
        QTest::newRow("window.open from a clicked button") << "popup"
                                                           << "/popup" << false;
        QTest::newRow("e-mail link") << "mail"
                                     << "mailto:someone@example.com" << false;
    }
    void clickedElements()
    {
        QFETCH(QString, id);
        QFETCH(QString, target);
        QFETCH(bool, opensInBrowser);
        QUrl url = target.startsWith(QLatin1String("mailto:")) ? QUrl(target) : other(target);
        if (target.startsWith(QLatin1String("https:"))) {
            url = other(target.mid(6));
            url.setScheme(QStringLiteral("https"));
        }

        QVERIFY(openStartPage());
        const qsizetype windowsBefore = QApplication::topLevelWidgets().size();
        QSignalSpy decided(coordinator(), &WorkspaceView::Coordinator::navigationDecided);
        click(id);
        QCOMPARE(waitForDecision(decided, url), std::optional(std::pair(false, opensInBrowser)));
        QCOMPARE(m_opener.opened, opensInBrowser ? QList<QUrl>{url} : QList<QUrl>{});
        QVERIFY(m_other->requests().isEmpty());
        QCOMPARE(coordinator()->url(), m_origin->baseUrl().resolved(QUrl("/")));
        QCOMPARE(QApplication::topLevelWidgets().size(), windowsBefore);
    }

    void linkActivatedFromTheKeyboardOpensInBrowser()
    {
        QVERIFY(openStartPage());
        QSignalSpy decided(coordinator(), &WorkspaceView::Coordinator::navigationDecided);
        evaluate(coordinator(), QStringLiteral("document.getElementById('other').focus()"));
        m_view->webView()->focusProxy()->setFocus();
        QTest::keyClick(m_view->webView()->focusProxy(), Qt::Key_Return);
        QCOMPARE(waitForDecision(decided, other("/clicked")), std::optional(std::pair(false, true)));
        QCOMPARE(m_opener.opened, QList<QUrl>{other("/clicked")});
    }

    void clickedSameOriginLinkNavigatesInTheView()
    {
        QVERIFY(openStartPage());
        click(QStringLiteral("same"));
        QTRY_COMPARE_WITH_TIMEOUT(coordinator()->url(), page("/second"), patience);
        QVERIFY(m_opener.opened.isEmpty());
    }

    void microphoneIsRefusedWithoutAsking()
    {
        QVERIFY(openStartPage());
        QSignalSpy asked(coordinator(), &QWebEnginePage::featurePermissionRequested);
        evaluate(coordinator(), QStringLiteral("window.micResult = 'pending';"
                                               "navigator.mediaDevices.getUserMedia({audio: true})"
                                               ".then(() => { window.micResult = 'granted'; },"
                                               " (e) => { window.micResult = e.name; });"));
        QTRY_COMPARE_WITH_TIMEOUT(evaluate(coordinator(), QStringLiteral("window.micResult")).toString(),
                                  QStringLiteral("NotAllowedError"), patience);
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked.first().at(1).value<QWebEnginePage::Feature>(), QWebEnginePage::MediaAudioCapture);
    }

    void downloadsAreRecognised_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("suggestedName");
        QTest::newRow("attachment, capital A") << "location.href = '/files/notes.txt'"
                                               << "/files/notes.txt"
                                               << "notes.txt";
        QTest::newRow("type the view cannot show") << "location.href = '/files/data.bin'"
                                                   << "/files/data.bin"
                                                   << "data.bin";
        QTest::newRow("same-origin link with a download attribute")
            << "const a = document.createElement('a'); a.href = '/files/plain.txt'; a.download = 'saved.txt';"
               " document.body.append(a); a.click();"
            << "/files/plain.txt"
            << "saved.txt";
    }
    void downloadsAreRecognised()
    {
        QFETCH(QString, script);
        QFETCH(QString, path);
        QFETCH(QString, suggestedName);
        // Nobody answers the save panel: it stays open.
        QVERIFY(openStartPage(&m_savePanel));
        QSignalSpy recognised(coordinator(), &WorkspaceView::Coordinator::downloadRecognised);
        evaluate(coordinator(), script);
        QVERIFY(recognised.wait(patience));
        QCOMPARE(recognised.first().at(0).toUrl(), page(path));
        QCOMPARE(recognised.first().at(1).toString(), suggestedName);
        QCOMPARE(coordinator()->url(), m_origin->baseUrl().resolved(QUrl("/")));
    }

    void backendControllerHoldsTheWebViewWeakly()
    {
        auto view = std::make_unique<WorkspaceView>(page("/second"), m_opener);
        QCOMPARE(backend::BackendController::shared().webView(), view->pageScripts());
        view.reset();
        QCOMPARE(backend::BackendController::shared().webView(), nullptr);
    }

    void preparedViewRequestsThePageOnlyWhenAskedTo()
    {
        m_view.reset(WorkspaceView::prepare(page("/"), m_opener));
        QVERIFY(!m_view->loadRequested());
        // Its page is live before anything is requested: a script runs in the blank document.
        QCOMPARE(evaluate(coordinator(), QStringLiteral("6 * 7")).toInt(), 42);
        QVERIFY(m_origin->requests().isEmpty());
        QVERIFY(backend::BackendController::shared().webView() != m_view->pageScripts());

        QSignalSpy loaded(coordinator(), &QWebEnginePage::loadFinished);
        m_view->load();
        m_view->load();
        m_view->show();
        QVERIFY(loaded.wait(patience));
        QVERIFY(loaded.first().first().toBool());
        QVERIFY(m_view->loadRequested());
        QCOMPARE(m_origin->requests().value(0), QStringLiteral("/")); // the page, then its icon
        QCOMPARE(m_origin->requests().count(QStringLiteral("/")), 1);
        QCOMPARE(backend::BackendController::shared().webView(), m_view->pageScripts());
        // The page is held to its origin as any other.
        QSignalSpy decided(coordinator(), &WorkspaceView::Coordinator::navigationDecided);
        evaluate(coordinator(), QStringLiteral("location.href = '%1'").arg(other("/prepared").toString()));
        QCOMPARE(waitForDecision(decided, other("/prepared")), std::optional(std::pair(false, false)));
        QVERIFY(m_other->requests().isEmpty());
    }

    void aPageWhoseRenderProcessEndsIsLoadedAgainOnce()
    {
        QVERIFY(openStartPage());
        QSignalSpy failed(m_view.get(), &WorkspaceView::pageFailed);
        QSignalSpy loaded(coordinator(), &QWebEnginePage::loadFinished);
        QCOMPARE(m_origin->requests().count(QStringLiteral("/")), 1);

        // Killed: loaded again by itself, from the page's own address.
        const qint64 first = coordinator()->renderProcessPid();
        QVERIFY(first > 0);
        ::kill(pid_t(first), SIGKILL);
        QTRY_COMPARE_WITH_TIMEOUT(m_origin->requests().count(QStringLiteral("/")), 2, patience);
        QTRY_VERIFY_WITH_TIMEOUT(!loaded.isEmpty() && loaded.last().first().toBool(), patience);
        QCOMPARE(evaluate(coordinator(), QStringLiteral("6 * 7")).toInt(), 42);
        QCOMPARE(failed.count(), 0);

        // Killed again soon after: the user decides, and nothing is requested meanwhile.
        const qint64 second = coordinator()->renderProcessPid();
        QVERIFY(second > 0 && second != first);
        ::kill(pid_t(second), SIGKILL);
        QVERIFY(failed.wait(patience));
        QCOMPARE(m_origin->requests().count(QStringLiteral("/")), 2);

        // The user's retry brings the page back.
        m_view->reload();
        QTRY_COMPARE_WITH_TIMEOUT(m_origin->requests().count(QStringLiteral("/")), 3, patience);
        QTRY_VERIFY_WITH_TIMEOUT(coordinator()->renderProcessPid() > 0, patience);
        QCOMPARE(evaluate(coordinator(), QStringLiteral("6 * 7")).toInt(), 42);
        QCOMPARE(failed.count(), 1);
    }

    void firstLoadIsStoppedAfterItsTimeOut()
    {
        m_view = std::make_unique<WorkspaceView>(page("/hang"), m_opener, 300ms);
        QSignalSpy loaded(coordinator(), &QWebEnginePage::loadFinished);
        m_view->show();
        QVERIFY(loaded.wait(patience));
        QCOMPARE(loaded.first().first().toBool(), false);
        QCOMPARE(m_origin->requests(), QStringList{"/hang"});
        QCOMPARE(m_view->url(), page("/hang"));
    }
};

int main(int argc, char *argv[])
{
    // The web view draws as it does in velmora.
    velmora::app::prepareDrawing(argc, argv);
    QApplication app(argc, argv);
    // The page's profile keeps its storage in the data folders; keep it out of the real ones.
    QStandardPaths::setTestModeEnabled(true);
    TestWorkspaceView test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_workspaceview.moc"
