#include "workspace/NavigationPolicy.h"
#include "workspace/PageActivations.h"

#include <QTest>

using namespace velmora::workspace;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(NavigationDecision)
Q_DECLARE_METATYPE(NavigationResponsePolicy)

namespace {
const QUrl page(QStringLiteral("http://127.0.0.1:18760"));
constexpr NavigationDecision allow{NavigationActionPolicy::Allow, false};
constexpr NavigationDecision download{NavigationActionPolicy::Download, false};
constexpr NavigationDecision cancel{NavigationActionPolicy::Cancel, false};
constexpr NavigationDecision cancelAndOpen{NavigationActionPolicy::Cancel, true};
} // namespace

namespace QTest {
template<>
char *toString(const NavigationDecision &d)
{
    const char *policy = d.policy == NavigationActionPolicy::Allow      ? "allow"
                         : d.policy == NavigationActionPolicy::Download ? "download"
                                                                        : "cancel";
    return qstrdup(QByteArray(policy).append(d.openExternally ? " + open externally" : "").constData());
}
} // namespace QTest

class TestNavigationPolicy : public QObject
{
    Q_OBJECT
private slots:
    void matchesOrigin_data()
    {
        QTest::addColumn<QString>("origin");
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("matches");
        QTest::newRow("page itself") << page.toString() << "http://127.0.0.1:18760" << true;
        QTest::newRow("other path, query, fragment") << page.toString() << "http://127.0.0.1:18760/a/b?x=1#f" << true;
        QTest::newRow("user information ignored") << page.toString() << "http://user:pw@127.0.0.1:18760/" << true;
        QTest::newRow("letter case normalised by the parser") << page.toString() << "HTTP://127.0.0.1:18760/" << true;
        QTest::newRow("same host, other port") << page.toString() << "http://127.0.0.1:18761/" << false;
        QTest::newRow("https where the page is http") << page.toString() << "https://127.0.0.1:18760/" << false;
        QTest::newRow("localhost is another host") << page.toString() << "http://localhost:18760/" << false;
        QTest::newRow("no port against an explicit one") << page.toString() << "http://127.0.0.1/" << false;
        QTest::newRow("explicit default port against none") << "http://example.com"
                                                            << "http://example.com:80/" << false;
        QTest::newRow("both without port") << "https://example.com"
                                           << "https://example.com/x" << true;
        QTest::newRow("empty URL") << page.toString() << "" << false;
        QTest::newRow("blob of the page") << page.toString() << "blob:http://127.0.0.1:18760/1234" << false;
        QTest::newRow("about:blank") << page.toString() << "about:blank" << false;
        QTest::newRow("absent host equals absent host") << "file:///a"
                                                        << "file:///b" << true;
    }
    void matchesOrigin()
    {
        QFETCH(QString, origin);
        QFETCH(QString, url);
        QFETCH(bool, matches);
        QCOMPARE(velmora::workspace::matchesOrigin(QUrl(origin), QUrl(url)), matches);
    }

    void decideNavigation_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("linkActivated");
        QTest::addColumn<bool>("shouldPerformDownload");
        QTest::addColumn<NavigationDecision>("expected");
        QTest::newRow("same origin, other path") << "http://127.0.0.1:18760/next?q=1" << false << false << allow;
        QTest::newRow("same origin, clicked") << "http://127.0.0.1:18760/next" << true << false << allow;
        QTest::newRow("same origin, download requested") << "http://127.0.0.1:18760/f.txt" << true << true << download;
        QTest::newRow("other port, clicked") << "http://127.0.0.1:9999/" << true << false << cancelAndOpen;
        QTest::newRow("https, clicked") << "https://127.0.0.1:18760/" << true << false << cancelAndOpen;
        QTest::newRow("other site, clicked") << "https://example.com/docs" << true << false << cancelAndOpen;
        QTest::newRow("other site, clicked download link") << "https://example.com/f.txt" << true << true << cancelAndOpen;
        QTest::newRow("other site, script jump") << "https://example.com/" << false << false << cancel;
        QTest::newRow("other site, download not clicked") << "https://example.com/f.txt" << false << true << cancel;
        QTest::newRow("e-mail link, clicked") << "mailto:someone@example.com" << true << false << cancel;
        QTest::newRow("ftp link, clicked") << "ftp://example.com/" << true << false << cancel;
        QTest::newRow("javascript link, clicked") << "javascript:alert(1)" << true << false << cancel;
        QTest::newRow("data URL, clicked") << "data:text/html,hi" << true << false << cancel;
        QTest::newRow("no URL") << "" << true << false << cancel;
        QTest::newRow("no URL, download") << "" << false << true << cancel;
    }
    void decideNavigation()
    {
        QFETCH(QString, url);
        QFETCH(bool, linkActivated);
        QFETCH(bool, shouldPerformDownload);
        QFETCH(NavigationDecision, expected);
        QCOMPARE(velmora::workspace::decideNavigation(page, {QUrl(url), linkActivated, shouldPerformDownload}), expected);
    }

    void decideResponse_data()
    {
        QTest::addColumn<QString>("contentDisposition");
        QTest::addColumn<bool>("canShow");
        QTest::addColumn<NavigationResponsePolicy>("expected");
        const auto show = NavigationResponsePolicy::Allow;
        const auto save = NavigationResponsePolicy::Download;
        QTest::newRow("attachment, showable type") << "attachment; filename=a.txt" << true << save;
        QTest::newRow("capital A with a file name") << "Attachment; filename=\"받아쓰기.srt\"" << true << save;
        QTest::newRow("upper case") << "ATTACHMENT" << true << save;
        QTest::newRow("word anywhere") << "inline; filename=attachment.txt" << true << save;
        QTest::newRow("inline, showable") << "inline" << true << show;
        QTest::newRow("inline, not showable") << "inline; filename=a.bin" << false << save;
        QTest::newRow("no header, showable") << "" << true << show;
        QTest::newRow("no header, not showable (also non-HTTP)") << "" << false << save;
        QTest::newRow("similar word only") << "attach" << true << show;
    }
    void decideResponse()
    {
        QFETCH(QString, contentDisposition);
        QFETCH(bool, canShow);
        QFETCH(NavigationResponsePolicy, expected);
        QCOMPARE(velmora::workspace::decideResponse(contentDisposition, canShow), expected);
    }

    void bridgeNamesInRegistrationOrder()
    {
        QCOMPARE(bridgeMessageNames,
                 QStringList({"chooseModelFolder", "getSaveLocation", "chooseSaveLocation", "revealTextFile", "getAppInfo",
                              "checkForUpdates", "openVoiceMemos", "requestVoiceMemosAccess", "openVoiceMemoPrivacy"}));
    }

    void activationMessages_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("swallowed");
        QTest::addColumn<bool>("recorded");
        QTest::newRow("signed by the script") << "velmora-link-activation secret https://example.com/" << true << true;
        QTest::newRow("forged token") << "velmora-link-activation guess https://example.com/" << true << false;
        QTest::newRow("token only") << "velmora-link-activation secret" << true << false;
        QTest::newRow("empty token") << "velmora-link-activation  https://example.com/" << true << false;
        QTest::newRow("ordinary log line") << "https://example.com/" << false << false;
        QTest::newRow("prefix later in the line")
            << "x velmora-link-activation secret https://example.com/" << false << false;
        QTest::newRow("a file input's report") << "velmora-file-input secret" << false << false;
    }
    void activationMessages()
    {
        QFETCH(QString, message);
        QFETCH(bool, swallowed);
        QFETCH(bool, recorded);
        PageActivations activations(PageActivations::Kind::LinkClick, QStringLiteral("secret"));
        const auto now = PageActivations::Clock::now();
        QCOMPARE(activations.takeMessage(message, now), swallowed);
        QCOMPARE(activations.consume(QUrl("https://example.com/"), now), recorded);
    }

    void activationIsUsedOnceForItsOwnLinkWhileFresh()
    {
        PageActivations activations(PageActivations::Kind::LinkClick, QStringLiteral("t"), 2s);
        const auto t0 = PageActivations::Clock::now();
        QVERIFY(activations.takeMessage("velmora-link-activation t https://a.example/", t0));
        QVERIFY(!activations.consume(QUrl("https://b.example/"), t0));
        QVERIFY(activations.consume(QUrl("https://a.example/"), t0 + 10ms));
        QVERIFY(!activations.consume(QUrl("https://a.example/"), t0 + 20ms));

        QVERIFY(activations.takeMessage("velmora-link-activation t https://a.example/", t0));
        QVERIFY(!activations.consume(QUrl("https://a.example/"), t0 + 3s));
    }

    void scriptSourceCarriesTheToken()
    {
        const QString source = PageActivations::scriptSource("const t = '@VELMORA_ACTIVATION_TOKEN@';", "abc");
        QCOMPARE(source, QStringLiteral("const t = 'abc';"));
    }
};

QTEST_GUILESS_MAIN(TestNavigationPolicy)
#include "tst_navigationpolicy.moc"
