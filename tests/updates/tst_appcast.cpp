#include "updates/Appcast.h"

#include <QTest>

using namespace velmora::updates;

class TestAppcast : public QObject
{
    Q_OBJECT
private slots:
    void parse_data();
    void parse();
    void itemFields();
    void releaseNotesLinkKeptAsWritten_data();
    void releaseNotesLinkKeptAsWritten();
    void releaseNotesLanguage_data();
    void releaseNotesLanguage();
    void channels_data();
    void channels();
    void architectures_data();
    void architectures();
    void selectUpdate_data();
    void selectUpdate();
};

namespace {

QByteArray feed(const QByteArray &items)
{
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
           "<rss version=\"2.0\" xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\">\n"
           "<channel><title>Velmora</title><link>https://velmora.app</link>\n"
           + items + "</channel></rss>\n";
}

QByteArray linuxItem(const QByteArray &version, const QByteArray &extra = {})
{
    return "<item><sparkle:version>" + version + "</sparkle:version>" + extra
           + "<enclosure url=\"https://updates.velmora.app/Velmora-" + version
           + ".tar.gz\" length=\"10\" type=\"application/gzip\" sparkle:os=\"linux\"/></item>\n";
}

QStringList versionsOf(const QList<AppcastItem> &items)
{
    QStringList versions;
    for (const AppcastItem &item : items)
        versions << item.versionString + QLatin1Char('/') + item.displayVersionString;
    return versions;
}

} // namespace

void TestAppcast::parse_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<bool>("ok");
    // "version/display version" of every item kept, in feed order
    QTest::addColumn<QStringList>("items");

    QTest::newRow("one linux item, versions as elements")
        << feed(linuxItem("1.2", "<sparkle:shortVersionString>1.2 (Linux)</sparkle:shortVersionString>")) << true
        << QStringList{"1.2/1.2 (Linux)"};
    QTest::newRow("display version falls back to the version") << feed(linuxItem("1.2")) << true << QStringList{"1.2/1.2"};
    QTest::newRow("versions as enclosure attributes")
        << feed("<item><enclosure url=\"https://u.example/a.tgz\" sparkle:version=\"130\" "
                "sparkle:shortVersionString=\"1.3\" sparkle:os=\"linux\"/></item>")
        << true << QStringList{"130/1.3"};
    QTest::newRow("enclosure attribute wins over element")
        << feed("<item><sparkle:version>1</sparkle:version><sparkle:shortVersionString>one</sparkle:shortVersionString>"
                "<enclosure url=\"https://u.example/a.tgz\" sparkle:version=\"2\" sparkle:shortVersionString=\"two\" "
                "sparkle:os=\"linux\"/></item>")
        << true << QStringList{"2/two"};
    QTest::newRow("several items in feed order") << feed(linuxItem("1.1") + linuxItem("1.3") + linuxItem("1.2")) << true
                                                 << QStringList{"1.1/1.1", "1.3/1.3", "1.2/1.2"};
    QTest::newRow("mac and windows items left out")
        << feed("<item><sparkle:version>9.0</sparkle:version><enclosure url=\"https://u.example/m.dmg\" "
                "sparkle:os=\"macos\"/></item>"
                "<item><sparkle:version>9.1</sparkle:version><enclosure url=\"https://u.example/w.msi\" "
                "sparkle:os=\"windows\"/></item>"
                + linuxItem("1.0"))
        << true << QStringList{"1.0/1.0"};
    QTest::newRow("enclosure without os is the mac download")
        << feed("<item><sparkle:version>9.0</sparkle:version><enclosure url=\"https://u.example/m.zip\"/></item>") << true
        << QStringList{};
    QTest::newRow("linux enclosure among others in one item")
        << feed("<item><sparkle:version>2.0</sparkle:version>"
                "<enclosure url=\"https://u.example/m.zip\"/>"
                "<enclosure url=\"https://u.example/l.tgz\" sparkle:os=\"linux\"/></item>")
        << true << QStringList{"2.0/2.0"};
    QTest::newRow("other namespace prefix")
        << QByteArray("<rss version=\"2.0\" xmlns:su=\"http://www.andymatuschak.org/xml-namespaces/sparkle\">"
                      "<channel><item><su:version>3.0</su:version>"
                      "<enclosure url=\"https://u.example/l.tgz\" su:os=\"linux\"/></item></channel></rss>")
        << true << QStringList{"3.0/3.0"};
    QTest::newRow("os attribute without the namespace does not count")
        << feed("<item><sparkle:version>2.0</sparkle:version>"
                "<enclosure url=\"https://u.example/l.tgz\" os=\"linux\"/></item>")
        << true << QStringList{};
    QTest::newRow("item without version left out")
        << feed("<item><enclosure url=\"https://u.example/l.tgz\" sparkle:os=\"linux\"/></item>" + linuxItem("1.0")) << true
        << QStringList{"1.0/1.0"};
    QTest::newRow("item without enclosure left out")
        << feed("<item><sparkle:version>5.0</sparkle:version></item>") << true << QStringList{};
    QTest::newRow("http download left out")
        << feed("<item><sparkle:version>5.0</sparkle:version>"
                "<enclosure url=\"http://u.example/l.tgz\" sparkle:os=\"linux\"/></item>")
        << true << QStringList{};
    QTest::newRow("beta channel left out")
        << feed(linuxItem("5.0b1", "<sparkle:channel>beta</sparkle:channel>") + linuxItem("4.0")) << true
        << QStringList{"4.0/4.0"};
    QTest::newRow("unknown elements skipped")
        << feed("<item><description><![CDATA[<p>notes</p>]]></description><pubDate>x</pubDate>"
                "<sparkle:minimumSystemVersion>10</sparkle:minimumSystemVersion>"
                "<foo><bar/></foo></item>"
                + linuxItem("1.5"))
        << true << QStringList{"1.5/1.5"};
    QTest::newRow("empty channel") << feed({}) << true << QStringList{};
    QTest::newRow("items of a second channel are read too")
        << QByteArray("<rss version=\"2.0\" xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\">"
                      "<channel><title>a</title>")
               + linuxItem("1.0") + "</channel><channel><title>b</title>" + linuxItem("2.0") + "</channel></rss>"
        << true << QStringList{"1.0/1.0", "2.0/2.0"};
    QTest::newRow("delta enclosure is no full update")
        << feed("<item><sparkle:version>2.0</sparkle:version>"
                "<enclosure url=\"https://u.example/1.0-2.0.delta\" sparkle:deltaFrom=\"1.0\" sparkle:os=\"linux\"/></item>")
        << true << QStringList{};
    QTest::newRow("full enclosure taken over a delta one before it")
        << feed("<item><sparkle:version>2.0</sparkle:version>"
                "<enclosure url=\"https://u.example/1.0-2.0.delta\" sparkle:deltaFrom=\"1.0\" sparkle:version=\"delta\" "
                "sparkle:os=\"linux\"/>"
                "<enclosure url=\"https://u.example/2.0.tgz\" sparkle:os=\"linux\"/></item>")
        << true << QStringList{"2.0/2.0"};
    QTest::newRow("enclosures inside sparkle:deltas are patches")
        << feed("<item><sparkle:version>2.0</sparkle:version><sparkle:deltas>"
                "<enclosure url=\"https://u.example/1.0-2.0.delta\" sparkle:deltaFrom=\"1.0\" sparkle:os=\"linux\"/>"
                "<enclosure url=\"https://u.example/2.0.tgz\" sparkle:os=\"linux\"/>"
                "</sparkle:deltas></item>")
        << true << QStringList{};
    QTest::newRow("first of repeated version elements")
        << feed("<item><sparkle:version>2.0</sparkle:version><sparkle:version>9.0</sparkle:version>"
                "<sparkle:shortVersionString>two</sparkle:shortVersionString>"
                "<sparkle:shortVersionString>nine</sparkle:shortVersionString>"
                "<enclosure url=\"https://u.example/l.tgz\" sparkle:os=\"linux\"/></item>")
        << true << QStringList{"2.0/two"};
    QTest::newRow("first enclosure for the platform")
        << feed("<item><sparkle:version>1</sparkle:version>"
                "<enclosure url=\"https://u.example/a.tgz\" sparkle:version=\"2.0\" sparkle:os=\"linux\"/>"
                "<enclosure url=\"https://u.example/b.tgz\" sparkle:version=\"9.0\" sparkle:os=\"linux\"/></item>")
        << true << QStringList{"2.0/2.0"};

    QTest::newRow("not XML") << QByteArray("this is not a feed") << false << QStringList{};
    QTest::newRow("empty document") << QByteArray() << false << QStringList{};
    QTest::newRow("HTML page") << QByteArray("<html><body><p>Sign in</p></body></html>") << false << QStringList{};
    QTest::newRow("cut off after the channel")
        << QByteArray("<rss xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\"><channel>")
               + linuxItem("2.0") + "</channel>"
        << false << QStringList{};
    QTest::newRow("cut off inside an item")
        << QByteArray("<rss xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\"><channel>"
                      "<item><sparkle:version>2.0</sparkle:version><enclosure url=\"https://u.example/l.tgz\" sp")
        << false << QStringList{};
    QTest::newRow("rss without channel") << QByteArray("<rss version=\"2.0\"></rss>") << false << QStringList{};
    QTest::newRow("mismatched tags") << feed("<item><title>x</item>") << false << QStringList{};
}

void TestAppcast::parse()
{
    QFETCH(QByteArray, document);
    QFETCH(bool, ok);
    QFETCH(QStringList, items);

    const AppcastParseResult result = parseAppcast(document);
    QVERIFY2(result.ok() == ok, qPrintable(result.error));
    QCOMPARE(versionsOf(result.items), items);
}

void TestAppcast::itemFields()
{
    const AppcastParseResult result = parseAppcast(feed(
        "<item><title>Velmora 1.2</title>"
        "<sparkle:version>120</sparkle:version>"
        "<sparkle:shortVersionString> 1.2 </sparkle:shortVersionString>"
        "<sparkle:releaseNotesLink>\n  https://velmora.app/notes/1.2.md\n</sparkle:releaseNotesLink>"
        "<enclosure url=\"https://updates.velmora.app/Velmora-1.2.tar.gz\" length=\"12345\" "
        "type=\"application/gzip\" sparkle:os=\"linux\"/></item>"
        "<item><sparkle:version>130</sparkle:version>"
        "<enclosure url=\"https://updates.velmora.app/Velmora-1.3.tar.gz\" length=\"many\" sparkle:os=\"linux\"/></item>"));
    QVERIFY2(result.ok(), qPrintable(result.error));
    QCOMPARE(result.items.size(), 2);

    const AppcastItem &item = result.items.at(0);
    QCOMPARE(item.title, QStringLiteral("Velmora 1.2"));
    QCOMPARE(item.versionString, QStringLiteral("120"));
    QCOMPARE(item.displayVersionString, QStringLiteral("1.2"));
    QCOMPARE(item.releaseNotesURL->text(), QStringLiteral("https://velmora.app/notes/1.2.md"));
    QCOMPARE(item.downloadURL, QUrl(QStringLiteral("https://updates.velmora.app/Velmora-1.2.tar.gz")));
    QCOMPARE(item.contentLength, 12345);
    QCOMPARE(item.contentType, QStringLiteral("application/gzip"));

    const UpdateItem update = item.updateItem();
    QCOMPARE(update.versionString, item.versionString);
    QCOMPARE(update.displayVersionString, item.displayVersionString);
    QCOMPARE(update.releaseNotesURL, item.releaseNotesURL);
    QCOMPARE(update.downloadURL, item.downloadURL);

    const AppcastItem &bare = result.items.at(1);
    QVERIFY(!bare.releaseNotesURL.has_value());
    QCOMPARE(bare.contentLength, 0);
    QVERIFY(bare.contentType.isEmpty());
}

void TestAppcast::releaseNotesLinkKeptAsWritten_data()
{
    QTest::addColumn<QString>("link");
    QTest::addColumn<bool>("kept");

    // The load checks scheme and host letter for letter, so they must reach it unchanged.
    QTest::newRow("scheme in capitals") << "HTTPS://velmora.app/notes" << true;
    QTest::newRow("host in capitals") << "https://Velmora.APP/notes" << true;
    QTest::newRow("plain") << "https://velmora.app/notes/1.0.md" << true;
    QTest::newRow("not an address") << "https://velmora .app/notes" << false;
}

void TestAppcast::releaseNotesLinkKeptAsWritten()
{
    QFETCH(QString, link);
    QFETCH(bool, kept);

    const AppcastParseResult result = parseAppcast(
        feed(linuxItem("1.0", "<sparkle:releaseNotesLink>" + link.toUtf8() + "</sparkle:releaseNotesLink>")));
    QVERIFY2(result.ok(), qPrintable(result.error));
    QCOMPARE(result.items.size(), 1);
    QCOMPARE(result.items.first().releaseNotesURL.has_value(), kept);
    if (kept)
        QCOMPARE(result.items.first().releaseNotesURL->text(), link);
}

void TestAppcast::releaseNotesLanguage_data()
{
    QTest::addColumn<QByteArray>("links"); // sparkle:releaseNotesLink elements of one item
    QTest::addColumn<QString>("expected");

    auto link = [](const QByteArray &language, const QByteArray &name) {
        const QByteArray lang = language.isNull() ? QByteArray() : " xml:lang=\"" + language + "\"";
        return "<sparkle:releaseNotesLink" + lang + ">https://velmora.app/notes/" + name + "</sparkle:releaseNotesLink>";
    };
    QTest::newRow("Korean first") << link("en", "en") + link({}, "plain") + link("ko", "ko") << "ko";
    QTest::newRow("Korean with a region") << link({}, "plain") + link("ko-KR", "ko-KR") << "ko-KR";
    QTest::newRow("language tags ignore letter case") << link({}, "plain") + link("KO", "KO") << "KO";
    QTest::newRow("without a language when none is Korean")
        << link("de", "de") + link({}, "plain") + link("fr", "fr") << "plain";
    QTest::newRow("first when none is Korean or plain") << link("de", "de") + link("fr", "fr") << "de";
    QTest::newRow("first of two plain ones") << link({}, "first") + link({}, "second") << "first";
    QTest::newRow("a language that only begins with ko is not Korean") << link("kok", "kok") + link({}, "plain") << "plain";
}

void TestAppcast::releaseNotesLanguage()
{
    QFETCH(QByteArray, links);
    QFETCH(QString, expected);

    const AppcastParseResult result = parseAppcast(feed(linuxItem("1.0", links)));
    QVERIFY2(result.ok(), qPrintable(result.error));
    QCOMPARE(result.items.size(), 1);
    QVERIFY(result.items.first().releaseNotesURL.has_value());
    QCOMPARE(result.items.first().releaseNotesURL->text(), QStringLiteral("https://velmora.app/notes/") + expected);
}

void TestAppcast::channels_data()
{
    QTest::addColumn<QByteArray>("items");
    QTest::addColumn<QStringList>("allowed");
    QTest::addColumn<QStringList>("expected");

    const QByteArray beta = linuxItem("5.0b1", "<sparkle:channel>beta</sparkle:channel>");
    const QByteArray release = linuxItem("4.0");
    QTest::newRow("named channels are not offered by default") << beta + release << QStringList{} << QStringList{"4.0/4.0"};
    QTest::newRow("an allowed channel is offered")
        << beta + release << QStringList{"beta"} << QStringList{"5.0b1/5.0b1", "4.0/4.0"};
    QTest::newRow("other channels stay out") << beta + linuxItem("6.0a1", "<sparkle:channel>nightly</sparkle:channel>")
                                             << QStringList{"beta"} << QStringList{"5.0b1/5.0b1"};
    QTest::newRow("channel names are compared letter for letter") << beta << QStringList{"Beta"} << QStringList{};
    QTest::newRow("an empty channel name is the default channel")
        << linuxItem("4.1", "<sparkle:channel>  </sparkle:channel>") << QStringList{} << QStringList{"4.1/4.1"};
    QTest::newRow("the first channel element counts")
        << linuxItem("5.0b2", "<sparkle:channel>beta</sparkle:channel><sparkle:channel>nightly</sparkle:channel>")
        << QStringList{"nightly"} << QStringList{};
    QTest::newRow("a name that is not a valid name is the default channel")
        << linuxItem("4.2", "<sparkle:channel>beta channel!</sparkle:channel>") << QStringList{} << QStringList{"4.2/4.2"};
    QTest::newRow("non-ASCII letters make no valid name")
        << linuxItem("4.3", "<sparkle:channel>베타</sparkle:channel>") << QStringList{} << QStringList{"4.3/4.3"};
    QTest::newRow("dots, dashes and underscores are valid")
        << linuxItem("5.1b1", "<sparkle:channel>beta-2_x.y</sparkle:channel>") << QStringList{} << QStringList{};
}

void TestAppcast::channels()
{
    QFETCH(QByteArray, items);
    QFETCH(QStringList, allowed);
    QFETCH(QStringList, expected);

    const AppcastParseResult result = parseAppcast(feed(items), QLatin1String(appcastLinuxOs), allowed);
    QVERIFY2(result.ok(), qPrintable(result.error));
    QCOMPARE(versionsOf(result.items), expected);
}

void TestAppcast::architectures_data()
{
    QTest::addColumn<QByteArray>("items");
    QTest::addColumn<QString>("architecture");
    QTest::addColumn<QStringList>("expected");

    auto enclosure = [](const QByteArray &url, const QByteArray &arch) {
        const QByteArray attribute = arch.isEmpty()
                                         ? QByteArray()
                                         : " xmlns:velmora=\"https://velmora.app/xml-namespaces/update\" velmora:arch=\""
                                               + arch + "\"";
        return "<enclosure url=\"https://u.example/" + url + "\" sparkle:os=\"linux\"" + attribute + "/>";
    };
    auto itemWith = [](const QByteArray &version, const QByteArray &enclosures) {
        return "<item><sparkle:version>" + version + "</sparkle:version>" + enclosures + "</item>";
    };
    const QByteArray both = itemWith("2.0", enclosure("arm.tgz", "aarch64") + enclosure("x86.tgz", "x86_64"));
    QTest::newRow("the enclosure for this architecture of several") << both << "x86_64" << QStringList{"2.0 x86.tgz"};
    QTest::newRow("the other one for another build") << both << "aarch64" << QStringList{"2.0 arm.tgz"};
    QTest::newRow("an item only for another architecture")
        << itemWith("3.0", enclosure("arm.tgz", "aarch64")) << "x86_64" << QStringList{};
    QTest::newRow("an enclosure naming none is taken by no build")
        << itemWith("3.0", enclosure("any.tgz", {})) << "x86_64" << QStringList{};
    QTest::newRow("a reader not asking takes every Linux enclosure")
        << itemWith("3.0", enclosure("any.tgz", {})) << "" << QStringList{"3.0 any.tgz"};
    QTest::newRow("the attribute in another namespace does not count")
        << itemWith("3.0", "<enclosure url=\"https://u.example/x.tgz\" sparkle:os=\"linux\" sparkle:arch=\"x86_64\"/>")
        << "x86_64" << QStringList{};
}

void TestAppcast::architectures()
{
    QFETCH(QByteArray, items);
    QFETCH(QString, architecture);
    QFETCH(QStringList, expected);
    const AppcastParseResult result = parseAppcast(feed(items), QLatin1String(appcastLinuxOs), {}, architecture);
    QVERIFY2(result.ok(), qPrintable(result.error));
    QStringList found;
    for (const AppcastItem &item : result.items)
        found << item.versionString + QLatin1Char(' ') + item.downloadURL.fileName();
    QCOMPARE(found, expected);
    // The build knows its own architecture by the name uname -m gives it.
    QVERIFY(!buildArchitecture().isEmpty());
}

void TestAppcast::selectUpdate_data()
{
    QTest::addColumn<QStringList>("versions");
    QTest::addColumn<QString>("running");
    QTest::addColumn<QString>("expected"); // empty: no update

    QTest::newRow("one newer") << QStringList{"1.1"} << "1.0"
                               << "1.1";
    QTest::newRow("highest of several, wherever it stands") << QStringList{"1.1", "1.10", "1.9", "1.2"} << "1.0"
                                                            << "1.10";
    QTest::newRow("equal is no update") << QStringList{"1.0.0"} << "1.0"
                                        << "";
    QTest::newRow("only older") << QStringList{"0.9", "0.1"} << "1.0"
                                << "";
    QTest::newRow("release beats its betas") << QStringList{"2.0b1", "2.0", "2.0rc1"} << "1.0"
                                             << "2.0";
    QTest::newRow("beta of the running release is older") << QStringList{"1.0b3"} << "1.0"
                                                          << "";
    QTest::newRow("nothing offered") << QStringList{} << "1.0"
                                     << "";
    // The choice must not depend on the order the feed lists its items in.
    QTest::newRow("period and number after a word, one order") << QStringList{"1.0b.1", "1.0b0"} << "1.0b"
                                                               << "1.0b0";
    QTest::newRow("period and number after a word, other order") << QStringList{"1.0b0", "1.0b.1"} << "1.0b"
                                                                 << "1.0b0";
    QTest::newRow("build number in parentheses") << QStringList{"3.3.1b1 (5902)"} << "3.3 (5847)"
                                                 << "3.3.1b1 (5902)";
    QTest::newRow("commit note after a dash is no update") << QStringList{"1.5.0-a655360"} << "1.5-335d3e2"
                                                           << "";
}

void TestAppcast::selectUpdate()
{
    QFETCH(QStringList, versions);
    QFETCH(QString, running);
    QFETCH(QString, expected);

    QList<AppcastItem> items;
    for (const QString &version : versions) {
        AppcastItem item;
        item.versionString = version;
        item.displayVersionString = QStringLiteral("shown ") + version;
        items << item;
    }
    const std::optional<AppcastItem> chosen = velmora::updates::selectUpdate(items, running);
    QCOMPARE(chosen ? chosen->versionString : QString(), expected);
    if (chosen)
        QCOMPARE(chosen->displayVersionString, QStringLiteral("shown ") + expected);
}

QTEST_GUILESS_MAIN(TestAppcast)
#include "tst_appcast.moc"
