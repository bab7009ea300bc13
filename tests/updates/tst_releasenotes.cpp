#include "TestSupport.h"
#include "updates/InlineMarkdownWriter.h"
#include "updates/ReleaseNotesText.h"
#include "updates/UpdateNotesView.h"

#include <QAbstractTextDocumentLayout>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>

using namespace velmora;
using updates::ReleaseNotesText::decode;

namespace {

// The largest notes the release-notes load accepts.
constexpr qsizetype notesLimit = 262144;

QString repeatTo(const QString &unit, qsizetype size)
{
    QString text;
    text.reserve(size);
    while (text.size() + unit.size() <= size)
        text += unit;
    return text;
}

} // namespace

class TestReleaseNotes : public QObject
{
    Q_OBJECT
private slots:
    void decodesFirstParagraph_data()
    {
        QTest::addColumn<QString>("document");
        QTest::addColumn<QString>("expected");

        QTest::newRow("no paragraph") << "<html><body>notes</body></html>"
                                      << "";
        QTest::newRow("paragraph never closed") << "<p>notes"
                                                << "";
        QTest::newRow("closing tag only before opening") << "</p><p>notes"
                                                         << "";
        QTest::newRow("upper-case paragraph tags") << "<P>Notes</P>"
                                                   << "Notes";
        QTest::newRow("paragraph with attributes is not a paragraph") << "<p class=\"x\">a</p>"
                                                                      << "";
        QTest::newRow("paragraph with attributes skipped for the next plain one") << "<p class=\"x\">a</p><p>b</p>"
                                                                                  << "b";
        QTest::newRow("only the first paragraph survives") << "intro<p>first</p><p>second</p>"
                                                           << "first";
        QTest::newRow("line break forms") << "<p>a<br>b<br/>c<br />d<BR>e<Br  />f</p>"
                                          << "a\nb\nc\nd\ne\nf";
        QTest::newRow("line break with Unicode white space before the slash")
            << QString::fromUtf8("<p>a<br\u00a0/>b<br\u3000\u2028>c<br\t\n/>d</p>") << "a\nb\nc\nd";
        QTest::newRow("other tags vanish without a space") << "<p>two<b>words</b></p>"
                                                           << "twowords";
        QTest::newRow("decimal reference") << "<p>&#65;</p>"
                                           << "A";
        QTest::newRow("hex reference lower-case x") << "<p>&#x41;</p>"
                                                    << "A";
        QTest::newRow("hex digits in either case") << "<p>&#x4a;&#x4A;</p>"
                                                   << "JJ";
        QTest::newRow("hex reference upper-case X stays") << "<p>&#X41;</p>"
                                                          << "&#X41;";
        QTest::newRow("surrogate stays") << "<p>&#xD800;&#55296;</p>"
                                         << "&#xD800;&#55296;";
        QTest::newRow("above U+10FFFF stays") << "<p>&#x110000;</p>"
                                              << "&#x110000;";
        QTest::newRow("largest scalar value") << "<p>&#x10FFFF;</p>" << QString::fromUcs4(U"\U0010FFFF", 1);
        QTest::newRow("astral character") << "<p>&#128512;</p>" << QString::fromUcs4(U"\U0001F600", 1);
        QTest::newRow("beyond 32 bits stays") << "<p>&#4294967296;</p>"
                                              << "&#4294967296;";
        QTest::newRow("32-bit maximum fits but is no scalar") << "<p>&#4294967295;</p>"
                                                              << "&#4294967295;";
        QTest::newRow("many leading zeros still fit") << "<p>&#000000000000000065;</p>"
                                                      << "A";
        QTest::newRow("several references decoded in place") << "<p>x&#65;y&#x42;z&#67;</p>"
                                                             << "xAyBzC";
        QTest::newRow("numeric ampersand then lt becomes less-than") << "<p>&#38;lt;</p>"
                                                                     << "<";
        QTest::newRow("escaped ampersand stays escaped once") << "<p>&amp;amp;</p>"
                                                              << "&amp;";
        QTest::newRow("amp then lt is not decoded twice") << "<p>&amp;lt;</p>"
                                                          << "&lt;";
        QTest::newRow("five named references") << "<p>&lt;&gt;&quot;&apos;&amp;</p>"
                                               << "<>\"'&";
        QTest::newRow("named references are case-sensitive") << "<p>&LT;&Amp;</p>"
                                                             << "&LT;&Amp;";
        QTest::newRow("other named references stay") << "<p>&nbsp;&copy;</p>"
                                                     << "&nbsp;&copy;";
        QTest::newRow("escaped tag survives as text") << "<p>&lt;b&gt;bold&lt;/b&gt;</p>"
                                                      << "<b>bold</b>";
        QTest::newRow("bare less-than swallows up to the next greater-than") << "<p>1 < 2\nand 3 > 2</p>"
                                                                             << "1  2";
        QTest::newRow("empty angle pair is not a tag") << "<p>a<>b</p>"
                                                       << "a<>b";
        QTest::newRow("white space only") << "<p> \n\t<br> </p>"
                                          << "";
        QTest::newRow("inner white space and blank lines kept") << "<p>\n  first\n\n    indented  line\n</p>"
                                                                << "first\n\n    indented  line";
        QTest::newRow("trims non-breaking and ideographic spaces")
            << QString::fromUtf8("<p>\u00a0\u3000text\u2028</p>") << "text";
        QTest::newRow("Korean text") << QString::fromUtf8("<p>개선 사항<br>버그 수정</p>")
                                     << QString::fromUtf8("개선 사항\n버그 수정");
    }

    void decodesFirstParagraph()
    {
        QFETCH(QString, document);
        QFETCH(QString, expected);
        QCOMPARE(decode(document), expected);
    }

    void notesViewShowsExactlyOneAlternative_data()
    {
        QTest::addColumn<bool>("loading");
        QTest::addColumn<bool>("failed");
        QTest::addColumn<QString>("shown");

        QTest::newRow("notes") << false << false << "text";
        QTest::newRow("loading") << true << false << "loading";
        QTest::newRow("failed") << false << true << "failed";
        QTest::newRow("loading wins over failed") << true << true << "loading";
    }

    void notesViewShowsExactlyOneAlternative()
    {
        QFETCH(bool, loading);
        QFETCH(bool, failed);
        QFETCH(QString, shown);

        updates::UpdateNotesView view;
        view.setNotes(QStringLiteral("notes"), loading, failed);
        view.show();
        QCOMPARE(view.objectName(), QStringLiteral("update-release-notes"));
        QCOMPARE(view.loadingRow()->isVisible(), shown == QLatin1String("loading"));
        QCOMPARE(view.failureLine()->isVisible(), shown == QLatin1String("failed"));
        QCOMPARE(view.notesText()->isVisible(), shown == QLatin1String("text"));
    }

    void unmatchedMarkersStayAsTyped_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");

        QTest::newRow("lone markers") << "* _ ** ` [ ~~"
                                      << "* _ ** ` [ ~~";
        QTest::newRow("unclosed strong") << "**open"
                                         << "**open";
        QTest::newRow("unclosed code") << "`code"
                                       << "`code";
        QTest::newRow("link without address") << "[label]("
                                              << "[label](";
        QTest::newRow("bracket without link") << "[label] text"
                                              << "[label] text";
        QTest::newRow("strong around emphasis") << "***both***"
                                                << "both";
        QTest::newRow("emphasis inside strong") << "**a *b* c**"
                                                << "a b c";
        QTest::newRow("escaped markers") << "\\*not\\*"
                                         << "*not*";
        QTest::newRow("markers inside code stay") << "`**raw**`"
                                                  << "**raw**";
        QTest::newRow("list and quote lines") << "- one\n> two\n1. three"
                                              << "- one\n> two\n1. three";
        QTest::newRow("trailing line break kept") << "a\n"
                                                  << "a\n";
    }

    void unmatchedMarkersStayAsTyped()
    {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        updates::UpdateNotesView view;
        view.setNotes(text, false, false);
        QCOMPARE(view.notesText()->document()->toPlainText(), shown);
    }

    // Notes of the largest size built to defeat a recursive or rescanning reader: each is read
    // on a bounded stack (the recursive reader overflowed it on the long runs of markers) and in
    // linear time (the rescanning one took minutes on the unmatched openers).
    void readsNotesOfAnyShape_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");  // the document's text, line breaks aside
        QTest::addColumn<QString>("styled"); // "italic", "link" or "" for the first visible character

        const QString stars(notesLimit, u'*');
        QTest::newRow("stars") << stars << stars << "";
        QTest::newRow("underscores") << QString(notesLimit, u'_') << QString(notesLimit, u'_') << "";
        QTest::newRow("tildes") << QString(notesLimit, u'~') << QString(notesLimit, u'~') << "";
        QTest::newRow("open brackets") << QString(notesLimit, u'[') << QString(notesLimit, u'[') << "";
        QTest::newRow("backticks") << QString(notesLimit, u'`') << QString(notesLimit, u'`') << "";
        QTest::newRow("openers that never close")
            << repeatTo(QStringLiteral("*a "), notesLimit) << repeatTo(QStringLiteral("*a "), notesLimit) << "";
        QTest::newRow("mixed openers that never close")
            << repeatTo(QStringLiteral("*_a "), notesLimit) << repeatTo(QStringLiteral("*_a "), notesLimit) << "";
        QTest::newRow("unclosed link addresses")
            << repeatTo(QStringLiteral("[a]("), notesLimit) << repeatTo(QStringLiteral("[a]("), notesLimit) << "";
        QTest::newRow("emphasis") << repeatTo(QStringLiteral("*a* "), notesLimit)
                                  << repeatTo(QStringLiteral("a "), notesLimit / 2) << "italic";
        QTest::newRow("links") << repeatTo(QStringLiteral("[a](b) "), notesLimit)
                               << repeatTo(QStringLiteral("a "), notesLimit / 7 * 2) << "link";
        QTest::newRow("escaped stars") << repeatTo(QStringLiteral("\\*"), notesLimit) << QString(notesLimit / 2, u'*') << "";
    }

    void readsNotesOfAnyShape()
    {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QFETCH(QString, styled);

        QTextDocument document;
        updates::setInlineMarkdown(document, text);
        QCOMPARE(document.toPlainText().remove(u'\n'), shown);
        const QTextCharFormat first = QTextCursor(document.begin()).block().begin().fragment().charFormat();
        QCOMPARE(first.fontItalic(), styled == QLatin1String("italic"));
        QCOMPARE(first.isAnchor(), styled == QLatin1String("link"));
    }

    // Qt lays out a block as a whole: a line far longer than the box goes on in further blocks,
    // broken after a white space where there is one near the limit, without losing a character.
    void longLinesGoOnInNewBlocks_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("atSpaces");

        QTest::newRow("words") << repeatTo(QStringLiteral("word "), 20000) << true;
        QTest::newRow("one long word") << QString(20000, u'x') << false;
    }

    void longLinesGoOnInNewBlocks()
    {
        QFETCH(QString, line);
        QFETCH(bool, atSpaces);

        QTextDocument document;
        updates::setInlineMarkdown(document, QStringLiteral("before\n") + line + QStringLiteral("\nafter"));
        QStringList blocks = document.toPlainText().split(u'\n');
        QCOMPARE(blocks.takeFirst(), QStringLiteral("before"));
        QCOMPARE(blocks.takeLast(), QStringLiteral("after"));
        QVERIFY(blocks.size() > 1);
        QCOMPARE(blocks.join(QString()), line);
        for (qsizetype i = 0; i < blocks.size(); ++i) {
            QVERIFY(blocks[i].size() <= updates::InlineMarkdownWriter::maxBlockCharacters);
            if (atSpaces && i + 1 < blocks.size())
                QVERIFY2(blocks[i].endsWith(u' '), qPrintable(QString::number(i)));
        }
    }

    // Spans go into the document inside one edit, so the layout runs once and not once per span
    // (tens of thousands of layouts took seconds).
    void fillsTheDocumentInOneEdit()
    {
        QTextDocument document;
        document.setTextWidth(400);
        document.documentLayout(); // with a layout, as in the notes box, every edit is laid out
        QSignalSpy changes(&document, &QTextDocument::contentsChange);
        updates::setInlineMarkdown(document, repeatTo(QStringLiteral("*a* **b** `c` "), 4096));
        QVERIFY2(changes.size() <= 3, qPrintable(QString::number(changes.size())));
    }

    // The notes box writes long notes a slice per turn of the event loop, so the window never
    // stops answering; a newer text replaces a fill still under way.
    void notesViewWritesLongNotesInSlices()
    {
        updates::UpdateNotesView view;
        view.show();
        QTextDocument *document = view.notesText()->document();
        QSignalSpy changes(document, &QTextDocument::contentsChange);

        const QString text = repeatTo(QStringLiteral("*a* b\n"), notesLimit);
        view.setNotes(text, false, false);
        QVERIFY(view.isFillingNotes());
        const qsizetype changesInCall = changes.size();
        QVERIFY2(changesInCall <= 5, qPrintable(QString::number(changesInCall)));
        QTRY_VERIFY_WITH_TIMEOUT(!view.isFillingNotes(), test::patience);
        QVERIFY(changes.size() > changesInCall);
        QCOMPARE(document->toPlainText(), repeatTo(QStringLiteral("a b\n"), notesLimit / 6 * 4));
        QCOMPARE(document->blockCount(), int(notesLimit / 6) + 1);
        QCOMPARE(document->lastBlock().previous().blockFormat().lineHeight(), 5.0);

        view.setNotes(text + QStringLiteral("x"), false, false);
        QVERIFY(view.isFillingNotes());
        view.setNotes(QStringLiteral("**short**"), false, false);
        QVERIFY(!view.isFillingNotes());
        QCOMPARE(document->toPlainText(), QStringLiteral("short"));
        QTest::qWait(0); // a slice queued for the replaced text must not run
        QCOMPARE(document->toPlainText(), QStringLiteral("short"));
    }

    void notesRenderInlineMarkdownOnly()
    {
        updates::UpdateNotesView view;
        const QString text = QStringLiteral("**Bold** plain *it* `code` ~~gone~~ [site](https://example.org)\n"
                                            "# Not a heading\n"
                                            "  - not a list\n\n"
                                            "2 * 3 * 4 and snake_case_name");
        view.setNotes(text, false, false);
        QTextDocument *document = view.notesText()->document();

        // Markers go, everything else (spaces, line breaks, block syntax) stays as typed.
        QCOMPARE(document->toPlainText(), QStringLiteral("Bold plain it code gone site\n"
                                                         "# Not a heading\n"
                                                         "  - not a list\n\n"
                                                         "2 * 3 * 4 and snake_case_name"));
        QCOMPARE(document->blockCount(), 5);

        auto formatAt = [document](const QString &word) {
            QTextCursor cursor = document->find(word);
            return cursor.charFormat();
        };
        QCOMPARE(formatAt(QStringLiteral("Bold")).fontWeight(), int(QFont::Bold));
        QCOMPARE(formatAt(QStringLiteral("plain")).fontWeight(), int(QFont::Normal));
        QVERIFY(formatAt(QStringLiteral("it")).fontItalic());
        QVERIFY(formatAt(QStringLiteral("code")).fontFixedPitch());
        QVERIFY(formatAt(QStringLiteral("gone")).fontStrikeOut());
        QCOMPARE(formatAt(QStringLiteral("site")).anchorHref(), QStringLiteral("https://example.org"));

        // A number sign line is plain text in body size, not a heading.
        const QTextBlock heading = document->findBlockByNumber(1);
        QCOMPARE(heading.blockFormat().headingLevel(), 0);
        QCOMPARE(QTextCursor(document->find(QStringLiteral("Not a heading"))).charFormat().fontWeight(), int(QFont::Normal));
        QCOMPARE(QTextCursor(document->find(QStringLiteral("Not a heading"))).charFormat().font().pixelSize(), 13);

        // Five points between lines.
        QCOMPARE(heading.blockFormat().lineHeightType(), int(QTextBlockFormat::LineDistanceHeight));
        QCOMPARE(heading.blockFormat().lineHeight(), 5.0);
    }
};

QTEST_MAIN(TestReleaseNotes)
#include "tst_releasenotes.moc"
