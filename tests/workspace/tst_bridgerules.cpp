#include "workspace/BridgeRules.h"
#include "workspace/NavigationPolicy.h"

#include <QTest>

using namespace velmora::workspace;

namespace {
const QUrl page(QStringLiteral("http://127.0.0.1:18760"));
}

class TestBridgeRules : public QObject
{
    Q_OBJECT
private slots:
    void gate_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("fromMainFrame");
        QTest::addColumn<QUrl>("frameUrl");
        QTest::addColumn<bool>("admitted");
        QTest::newRow("the page itself") << "getSaveLocation" << true << QUrl("http://127.0.0.1:18760/") << true;
        QTest::newRow("another path and query of the page")
            << "chooseModelFolder" << true << QUrl("http://127.0.0.1:18760/jobs?id=3#top") << true;
        QTest::newRow("user information plays no part")
            << "getAppInfo" << true << QUrl("http://someone@127.0.0.1:18760/") << true;
        QTest::newRow("another port") << "getSaveLocation" << true << QUrl("http://127.0.0.1:18761/") << false;
        QTest::newRow("no port") << "getSaveLocation" << true << QUrl("http://127.0.0.1/") << false;
        QTest::newRow("https") << "getSaveLocation" << true << QUrl("https://127.0.0.1:18760/") << false;
        QTest::newRow("look-alike host localhost") << "getSaveLocation" << true << QUrl("http://localhost:18760/") << false;
        QTest::newRow("look-alike host with a suffix")
            << "getSaveLocation" << true << QUrl("http://127.0.0.1.example.com:18760/") << false;
        QTest::newRow("an embedded frame of the page")
            << "getSaveLocation" << false << QUrl("http://127.0.0.1:18760/") << false;
        QTest::newRow("no frame URL") << "getSaveLocation" << true << QUrl() << false;
        QTest::newRow("blank document") << "getSaveLocation" << true << QUrl("about:blank") << false;
        QTest::newRow("unknown name") << "deleteEverything" << true << QUrl("http://127.0.0.1:18760/") << false;
        QTest::newRow("name in other letter case") << "GetSaveLocation" << true << QUrl("http://127.0.0.1:18760/") << false;
        QTest::newRow("empty name") << "" << true << QUrl("http://127.0.0.1:18760/") << false;
        QTest::newRow("name with trailing space") << "getAppInfo " << true << QUrl("http://127.0.0.1:18760/") << false;
        for (const QString &name : bridgeMessageNames)
            QTest::addRow("%s", qPrintable(name)) << name << true << QUrl("http://127.0.0.1:18760/x") << true;
    }
    void gate()
    {
        QFETCH(QString, name);
        QFETCH(bool, fromMainFrame);
        QFETCH(QUrl, frameUrl);
        QFETCH(bool, admitted);
        QCOMPARE(gateAdmits(page, name, fromMainFrame, frameUrl), admitted);
    }

    void revealTextFilePath_data()
    {
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("path");
        QTest::newRow("absolute text file") << "[{\"path\": \"/home/u/notes.txt\"}]"
                                            << "/home/u/notes.txt";
        QTest::newRow("extension in capitals") << "[{\"path\": \"/home/u/NOTES.TXT\"}]"
                                               << "/home/u/NOTES.TXT";
        QTest::newRow("each text extension: srt") << "[{\"path\": \"/a/b.srt\"}]"
                                                  << "/a/b.srt";
        QTest::newRow("each text extension: vtt") << "[{\"path\": \"/a/b.vtt\"}]"
                                                  << "/a/b.vtt";
        QTest::newRow("each text extension: md") << "[{\"path\": \"/a/b.Md\"}]"
                                                 << "/a/b.Md";
        QTest::newRow("other members are ignored")
            << "[{\"path\": \"/a/b.txt\", \"more\": {\"deep\": [1, 2, {\"x\": null}]}}]"
            << "/a/b.txt";
        QTest::newRow("a folder-like name ending in .txt") << "[{\"path\": \"/a/b.txt/\"}]"
                                                           << "/a/b.txt/";
        QTest::newRow("relative path") << "[{\"path\": \"notes.txt\"}]"
                                       << "";
        QTest::newRow("home-relative path") << "[{\"path\": \"~/notes.txt\"}]"
                                            << "";
        QTest::newRow("pdf") << "[{\"path\": \"/a/b.pdf\"}]"
                             << "";
        QTest::newRow("no extension") << "[{\"path\": \"/a/notes\"}]"
                                      << "";
        QTest::newRow("a name that is only an extension") << "[{\"path\": \"/a/.txt\"}]"
                                                          << "";
        QTest::newRow("extension in the folder only") << "[{\"path\": \"/a.txt/notes\"}]"
                                                      << "";
        QTest::newRow("plain string body") << "[\"/a/b.txt\"]"
                                           << "";
        QTest::newRow("dictionary without path") << "[{\"file\": \"/a/b.txt\"}]"
                                                 << "";
        QTest::newRow("path not a string") << "[{\"path\": [\"/a/b.txt\"]}]"
                                           << "";
        QTest::newRow("path null") << "[{\"path\": null}]"
                                   << "";
        QTest::newRow("array body") << "[[{\"path\": \"/a/b.txt\"}]]"
                                    << "";
        QTest::newRow("no body") << "[null]"
                                 << "";
        QTest::newRow("unreadable body") << ""
                                         << "";
        QTest::newRow("not JSON") << "[{path: '/a/b.txt'}]"
                                  << "";
        QTest::newRow("two values") << "[{\"path\": \"/a/b.txt\"}, 1]"
                                    << "";
    }
    void revealTextFilePath()
    {
        QFETCH(QString, body);
        QFETCH(QString, path);
        QCOMPARE(velmora::workspace::revealTextFilePath(parseBody(body)), path);
    }

    void deeplyNestedBodyIsNotADictionary()
    {
        QString body = QStringLiteral("[{\"path\": \"/a/b.txt\", \"x\": ");
        body += QString(100000, QLatin1Char('['));
        body += QString(100000, QLatin1Char(']'));
        body += QStringLiteral("}]");
        QCOMPARE(velmora::workspace::revealTextFilePath(parseBody(body)), QString());
    }

    void pathExtension_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("extension");
        QTest::newRow("plain") << "/a/b.txt"
                               << "txt";
        QTest::newRow("capitals") << "/a/b.SRT"
                                  << "srt";
        QTest::newRow("two dots") << "/a/b.tar.md"
                                  << "md";
        QTest::newRow("trailing separator") << "/a/b.vtt/"
                                            << "vtt";
        QTest::newRow("leading dot only") << "/a/.txt"
                                          << "";
        QTest::newRow("leading dot and another") << "/a/.notes.txt"
                                                 << "txt";
        QTest::newRow("trailing dot") << "/a/b."
                                      << "";
        QTest::newRow("dot in the folder") << "/a.b/c"
                                           << "";
        QTest::newRow("no name") << "/"
                                 << "";
    }
    void pathExtension()
    {
        QFETCH(QString, path);
        QFETCH(QString, extension);
        QCOMPARE(velmora::workspace::pathExtension(path), extension);
    }

    void presentFolder_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<bool>("exists");
        QTest::addColumn<QString>("expected");
        QTest::newRow("an existing folder") << "/home/user/texts" << true << "/home/user/texts";
        QTest::newRow("trailing separator dropped") << "/home/user/texts/" << true << "/home/user/texts";
        QTest::newRow("a folder that has gone") << "/home/user/texts" << false << "/home/user";
        QTest::newRow("Downloads the system never had") << "/home/user/Downloads" << false << "/home/user";
        QTest::newRow("nothing at all") << "" << false << "/home/user";
    }
    void presentFolder()
    {
        QFETCH(QString, folder);
        QFETCH(bool, exists);
        QFETCH(QString, expected);
        QCOMPARE(velmora::workspace::presentFolder(folder, exists, QStringLiteral("/home/user/")), expected);
    }

    void textSaveDirectory_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QString>("downloads");
        QTest::addColumn<QString>("directory");
        QTest::newRow("a chosen folder") << QVariant("/data/texts") << "/home/u/Downloads"
                                         << "/data/texts";
        QTest::newRow("a chosen folder that has gone") << QVariant("/gone/away") << "/home/u/Downloads"
                                                       << "/gone/away";
        QTest::newRow("fresh installation") << QVariant() << "/home/u/Downloads"
                                            << "/home/u/Downloads";
        QTest::newRow("empty string counts as none") << QVariant("") << "/home/u/Downloads"
                                                     << "/home/u/Downloads";
        QTest::newRow("a stored list is not a folder") << QVariant(QStringList{"/data"}) << "/home/u/Downloads"
                                                       << "/home/u/Downloads";
        QTest::newRow("no downloads folder reported") << QVariant() << ""
                                                      << "/home/u/Downloads";
        QTest::newRow("trailing separators dropped") << QVariant("/data/texts//") << ""
                                                     << "/data/texts";
    }
    void textSaveDirectory()
    {
        QFETCH(QVariant, stored);
        QFETCH(QString, downloads);
        QFETCH(QString, directory);
        QCOMPARE(velmora::workspace::textSaveDirectory(stored, downloads, QStringLiteral("/home/u")), directory);
    }

    void folderReply_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("name");
        QTest::newRow("folder") << "/home/u/Downloads"
                                << "/home/u/Downloads"
                                << "Downloads";
        QTest::newRow("trailing separator") << "/data/texts/"
                                            << "/data/texts"
                                            << "texts";
        QTest::newRow("Korean name") << "/data/받은 파일"
                                     << "/data/받은 파일"
                                     << "받은 파일";
        QTest::newRow("root") << "/"
                              << "/"
                              << "/";
    }
    void folderReply()
    {
        QFETCH(QString, folder);
        QFETCH(QString, path);
        QFETCH(QString, name);
        const QVariantMap expected{{"path", path}, {"name", name}};
        QCOMPARE(velmora::workspace::folderReply(folder), expected);
    }

    void appInfoReply_data()
    {
        QTest::addColumn<QVariant>("version");
        QTest::addColumn<bool>("canCheck");
        QTest::addColumn<QString>("reported");
        QTest::newRow("version") << QVariant("1.4.2") << true << "1.4.2";
        QTest::newRow("no version") << QVariant() << false << "";
        QTest::newRow("version not a string") << QVariant(14) << true << "";
    }
    void appInfoReply()
    {
        QFETCH(QVariant, version);
        QFETCH(bool, canCheck);
        QFETCH(QString, reported);
        const QVariantMap expected{{"version", reported}, {"updatesAvailable", true}, {"canCheckForUpdates", canCheck}};
        QCOMPARE(velmora::workspace::appInfoReply(version, canCheck), expected);
    }

    void replyMessages_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QVariant>("content");
        QTest::addColumn<QVariantMap>("message");
        QTest::newRow("value") << "value" << QVariant(true) << QVariantMap{{"value", true}};
        QTest::newRow("dictionary value") << "value" << QVariant(QVariantMap{{"path", "/a"}})
                                          << QVariantMap{{"value", QVariantMap{{"path", "/a"}}}};
        QTest::newRow("no value") << "none" << QVariant() << QVariantMap{};
        QTest::newRow("error") << "error" << QVariant("문제") << QVariantMap{{"error", "문제"}};
    }
    void replyMessages()
    {
        QFETCH(QString, kind);
        QFETCH(QVariant, content);
        QFETCH(QVariantMap, message);
        const BridgeReply reply = kind == "value"   ? BridgeReply::withValue(content)
                                  : kind == "error" ? BridgeReply::failure(content.toString())
                                                    : BridgeReply::noValue();
        QCOMPARE(reply.toMessage(), message);
    }
};

QTEST_GUILESS_MAIN(TestBridgeRules)
#include "tst_bridgerules.moc"
