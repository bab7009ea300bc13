#include "platform/LiteralUrl.h"

#include <QTest>

using velmora::platform::LiteralUrl;

class TestLiteralUrl : public QObject
{
    Q_OBJECT
private slots:
    void readsSchemeAndHostAsWritten_data();
    void readsSchemeAndHostAsWritten();
};

void TestLiteralUrl::readsSchemeAndHostAsWritten_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("scheme");
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("httpsOnAllowed"); // allowed hosts: notes.example, velmora.app

    QTest::newRow("plain") << "https://notes.example/a"
                           << "https"
                           << "notes.example" << true;
    QTest::newRow("port, query and fragment") << "https://notes.example:8443/a?b=c#d"
                                              << "https"
                                              << "notes.example" << true;
    QTest::newRow("no path") << "https://velmora.app"
                             << "https"
                             << "velmora.app" << true;
    QTest::newRow("scheme in capitals") << "HTTPS://notes.example/a"
                                        << "HTTPS"
                                        << "notes.example" << false;
    QTest::newRow("host in other letter case") << "https://Notes.Example/a"
                                               << "https"
                                               << "Notes.Example" << false;
    QTest::newRow("http") << "http://notes.example/a"
                          << "http"
                          << "notes.example" << false;
    QTest::newRow("allowed host as user") << "https://notes.example@evil.example/a"
                                          << "https"
                                          << "evil.example" << false;
    QTest::newRow("user and password") << "https://u:p@notes.example/a"
                                       << "https"
                                       << "notes.example" << true;
    QTest::newRow("host ends at a query") << "https://evil.example?notes.example"
                                          << "https"
                                          << "evil.example" << false;
    QTest::newRow("host ends at a fragment") << "https://evil.example#@notes.example"
                                             << "https"
                                             << "evil.example" << false;
    QTest::newRow("IPv6 literal") << "https://[::1]:443/a"
                                  << "https"
                                  << "::1" << false;
    QTest::newRow("percent-encoded host") << "https://notes%2Eexample/a"
                                          << "https"
                                          << "notes%2Eexample" << false;
    QTest::newRow("trailing dot") << "https://notes.example./a"
                                  << "https"
                                  << "notes.example." << false;
    QTest::newRow("no authority") << "https:notes.example/a"
                                  << "https"
                                  << "" << false;
    QTest::newRow("relative") << "/notes/a"
                              << ""
                              << "" << false;
    QTest::newRow("scheme-relative") << "//notes.example/a"
                                     << ""
                                     << "" << false;
    QTest::newRow("not a scheme before the colon") << "no tes:x"
                                                   << ""
                                                   << "" << false;
    QTest::newRow("empty") << ""
                           << ""
                           << "" << false;
    QTest::newRow("space in the host") << "https://notes.example x/a"
                                       << "https"
                                       << "notes.example x" << false;
}

void TestLiteralUrl::readsSchemeAndHostAsWritten()
{
    QFETCH(QString, text);
    QFETCH(QString, scheme);
    QFETCH(QString, host);
    QFETCH(bool, httpsOnAllowed);

    const LiteralUrl url(text);
    QCOMPARE(url.text(), text);
    QCOMPARE(url.scheme(), scheme);
    QCOMPARE(url.host(), host);
    QCOMPARE(url.isHttpsOn({QStringLiteral("notes.example"), QStringLiteral("velmora.app")}), httpsOnAllowed);
}

QTEST_GUILESS_MAIN(TestLiteralUrl)
#include "tst_literalurl.moc"
