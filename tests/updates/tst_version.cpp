#include "updates/Version.h"

#include <QTest>

#include <vector>

using velmora::updates::compareVersions;

class TestVersion : public QObject
{
    Q_OBJECT
private slots:
    void compare_data();
    void compare();
    void isStrictWeakOrderingOnGeneratedVersions_data();
    void isStrictWeakOrderingOnGeneratedVersions();
};

namespace {

int sign(std::weak_ordering order)
{
    return order < 0 ? -1 : order > 0 ? 1 : 0;
}

// Short strings over the characters versions are made of, from a fixed seed, so a failure
// names the same versions on every run.
QStringList generatedVersions(int count, quint32 seed)
{
    static const char16_t alphabet[] = u"0123456789012abzAB..-- ()";
    const int letters = int(std::size(alphabet)) - 1;
    quint32 state = seed;
    auto next = [&state](int bound) {
        state = state * 1664525u + 1013904223u;
        return int((state >> 16) % quint32(bound));
    };
    QStringList versions;
    for (int i = 0; i < count; ++i) {
        QString version;
        for (int length = next(9); length > 0; --length)
            version += QChar(alphabet[next(letters)]);
        versions << version;
    }
    return versions;
}

} // namespace

void TestVersion::compare_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<int>("expected"); // sign of a compared with b

    // The update framework's own cases for its standard comparator.
    QTest::newRow("numbers: 1.0 < 1.1") << "1.0"
                                        << "1.1" << -1;
    QTest::newRow("numbers: 1.0 == 1.0") << "1.0"
                                         << "1.0" << 0;
    QTest::newRow("numbers: 2.0 > 1.1") << "2.0"
                                        << "1.1" << 1;
    QTest::newRow("numbers: 0.1 > 0.0.1") << "0.1"
                                          << "0.0.1" << 1;
    QTest::newRow("numbers: 0.1 < 0.1.2") << "0.1"
                                          << "0.1.2" << -1;
    QTest::newRow("numbers: 1.0 == 1.0.0") << "1.0"
                                           << "1.0.0" << 0;
    QTest::newRow("commit: 1.5.5-335d3e2 < 1.5.6-b252311") << "1.5.5-335d3e2"
                                                           << "1.5.6-b252311" << -1;
    QTest::newRow("commit: 1.5.5-335d3e2 == 1.5.5-a655360") << "1.5.5-335d3e2"
                                                            << "1.5.5-a655360" << 0;
    QTest::newRow("commit: 1.5-335d3e2 == 1.5.0-335d3e2") << "1.5-335d3e2"
                                                          << "1.5.0-335d3e2" << 0;
    QTest::newRow("pre-release: 1.5.5 < 1.5.6a1") << "1.5.5"
                                                  << "1.5.6a1" << -1;
    QTest::newRow("pre-release: 1.1.0b1 < 1.1.0b2") << "1.1.0b1"
                                                    << "1.1.0b2" << -1;
    QTest::newRow("pre-release: 1.1.1b2 < 1.1.2b1") << "1.1.1b2"
                                                    << "1.1.2b1" << -1;
    QTest::newRow("pre-release: 1.1.1b2 < 1.1.2a1") << "1.1.1b2"
                                                    << "1.1.2a1" << -1;
    QTest::newRow("pre-release: 1.0a1 < 1.0b1") << "1.0a1"
                                                << "1.0b1" << -1;
    QTest::newRow("pre-release: 1.0b1 < 1.0") << "1.0b1"
                                              << "1.0" << -1;
    QTest::newRow("pre-release: 0.9 < 1.0a1") << "0.9"
                                              << "1.0a1" << -1;
    QTest::newRow("pre-release: 1.0b < 1.0b2") << "1.0b"
                                               << "1.0b2" << -1;
    QTest::newRow("pre-release: 1.0b10 < 1.0b11") << "1.0b10"
                                                  << "1.0b11" << -1;
    QTest::newRow("pre-release: 1.0b9 < 1.0b10") << "1.0b9"
                                                 << "1.0b10" << -1;
    QTest::newRow("pre-release: 1.0rc < 1.0") << "1.0rc"
                                              << "1.0" << -1;
    QTest::newRow("pre-release: 1.0b < 1.0") << "1.0b"
                                             << "1.0" << -1;
    QTest::newRow("pre-release: 1.0pre1 < 1.0") << "1.0pre1"
                                                << "1.0" << -1;
    QTest::newRow("pre-release: 1.0pre1 == 1.0.0pre1") << "1.0pre1"
                                                       << "1.0.0pre1" << 0;
    QTest::newRow("build: 1.0 (1234) < 1.0 (1235)") << "1.0 (1234)"
                                                    << "1.0 (1235)" << -1;
    QTest::newRow("build: 1.0b1 (1234) < 1.0 (1234)") << "1.0b1 (1234)"
                                                      << "1.0 (1234)" << -1;
    QTest::newRow("build: 1.0b5 (1234) < 1.0b5 (1235)") << "1.0b5 (1234)"
                                                        << "1.0b5 (1235)" << -1;
    QTest::newRow("build: 1.0b5 (1234) < 1.0.1b5 (1234)") << "1.0b5 (1234)"
                                                          << "1.0.1b5 (1234)" << -1;
    QTest::newRow("build: 1.0.1b5 (1234) < 1.0.1b6 (1234)") << "1.0.1b5 (1234)"
                                                            << "1.0.1b6 (1234)" << -1;
    QTest::newRow("build: 2.0.0.2429 < 2.0.0.2430") << "2.0.0.2429"
                                                    << "2.0.0.2430" << -1;
    QTest::newRow("build: 1.1.1.1818 < 2.0.0.2430") << "1.1.1.1818"
                                                    << "2.0.0.2430" << -1;
    QTest::newRow("build: 3.3 (5847) < 3.3.1b1 (5902)") << "3.3 (5847)"
                                                        << "3.3.1b1 (5902)" << -1;
    QTest::newRow("build: 3.3 (5847) == 3.3.0 (5847)") << "3.3 (5847)"
                                                       << "3.3.0 (5847)" << 0;
    QTest::newRow("build: 1.1.1.1818 == 1.1.1.1818.0") << "1.1.1.1818"
                                                       << "1.1.1.1818.0" << 0;
    QTest::newRow("build: 3.3b1 (5902) == 3.3.0b1 (5902)") << "3.3b1 (5902)"
                                                           << "3.3.0b1 (5902)" << 0;
    QTest::newRow("date: 201210251627 < 201211051041") << "201210251627"
                                                       << "201211051041" << -1;
    QTest::newRow("date: 201210251627.0 == 201210251627") << "201210251627.0"
                                                          << "201210251627" << 0;

    // What follows from the same rules.
    QTest::newRow("numbers not text: 1.10 > 1.9") << "1.10"
                                                  << "1.9" << 1;
    QTest::newRow("major wins: 2.0 > 1.99.9") << "2.0"
                                              << "1.99.9" << 1;
    QTest::newRow("several trailing zeros") << "2"
                                            << "2.0.0.0" << 0;
    QTest::newRow("leading zeros ignored") << "1.01"
                                           << "1.1" << 0;
    QTest::newRow("beta before rc") << "1.0b2"
                                    << "1.0rc1" << -1;
    QTest::newRow("pre-release after trailing zero") << "1.0.0b1"
                                                     << "1.0" << -1;
    QTest::newRow("pre-release of next patch is newer") << "1.0.1b1"
                                                        << "1.0" << 1;
    QTest::newRow("trailing zero before a suffix: 1.5-abc == 1.5.0-abc") << "1.5-abc"
                                                                         << "1.5.0-abc" << 0;
    QTest::newRow("dash starts a note: 1.0-beta == 1.0") << "1.0-beta"
                                                         << "1.0" << 0;
    QTest::newRow("dash notes: 1.0-rc.0 == 1.0-rc") << "1.0-rc.0"
                                                    << "1.0-rc" << 0;
    QTest::newRow("dash notes: 1.0-rc == 1.0-rc0") << "1.0-rc"
                                                   << "1.0-rc0" << 0;
    QTest::newRow("dash notes: 1.0-rc.0 == 1.0-rc0") << "1.0-rc.0"
                                                     << "1.0-rc0" << 0;
    QTest::newRow("letter where a period stands") << "1a"
                                                  << "1.0" << -1;
    QTest::newRow("number where a period stands") << "10"
                                                  << "1.0" << 1;
    QTest::newRow("a space is no period: 1 2 < 1.2") << "1 2"
                                                     << "1.2" << -1;
    QTest::newRow("build number makes newer: 1.0 (5) > 1.0") << "1.0 (5)"
                                                             << "1.0" << 1;
    QTest::newRow("build numbers") << "120"
                                   << "99" << 1;
    QTest::newRow("numbers longer than 64 bits") << "1.18446744073709551616"
                                                 << "1.18446744073709551615" << 1;
    QTest::newRow("empty is oldest") << ""
                                     << "0.1" << -1;
    QTest::newRow("text parts compare as text") << "1.0beta"
                                                << "1.0alpha" << 1;
    QTest::newRow("text parts are case-sensitive: B < a") << "1.0B"
                                                          << "1.0a" << -1;

    // Odd versions, where the framework's comparator contradicts itself; one answer each.
    QTest::newRow("period then number after a word: 1.0b.1 < 1.0b0") << "1.0b.1"
                                                                     << "1.0b0" << -1;
    QTest::newRow("number after a word: 1.0b < 1.0b0") << "1.0b"
                                                       << "1.0b0" << -1;
    QTest::newRow("period after a word: 1.0b < 1.0b.1") << "1.0b"
                                                        << "1.0b.1" << -1;
    QTest::newRow("word first: 0a1 < empty") << "0a1"
                                             << "" << -1;
    QTest::newRow("leading period: empty < .18") << ""
                                                 << ".18" << -1;
    QTest::newRow("leading period: 0a1 < .18") << "0a1"
                                               << ".18" << -1;
    QTest::newRow("leading period is a zero: .5 == 0.5") << ".5"
                                                         << "0.5" << 0;
    QTest::newRow("empty part is a zero: 1..2 == 1.0.2") << "1..2"
                                                         << "1.0.2" << 0;
    QTest::newRow("empty part is a zero: 1..2 < 1.2") << "1..2"
                                                      << "1.2" << -1;
    QTest::newRow("trailing period: 1. == 1") << "1."
                                              << "1" << 0;
    QTest::newRow("leading dash is a separator: -1 > 0") << "-1"
                                                         << "0" << 1;
}

void TestVersion::compare()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(int, expected);
    QCOMPARE(sign(compareVersions(a, b)), expected);
    // The ordering must not depend on the side a version stands on.
    QCOMPARE(sign(compareVersions(b, a)), -expected);
}

void TestVersion::isStrictWeakOrderingOnGeneratedVersions_data()
{
    QTest::addColumn<quint32>("seed");
    QTest::newRow("seed 1") << 1u;
    QTest::newRow("seed 2") << 0x9e3779b9u;
    QTest::newRow("seed 3") << 20261210u;
}

// Antisymmetry and transitivity over every pair and every triple of a generated set: only
// then does picking the newest item of a feed not depend on the order the feed lists them.
void TestVersion::isStrictWeakOrderingOnGeneratedVersions()
{
    QFETCH(quint32, seed);
    const QStringList versions = generatedVersions(400, seed);
    const qsizetype n = versions.size();

    std::vector<qint8> order(size_t(n * n));
    for (qsizetype i = 0; i < n; ++i)
        for (qsizetype j = 0; j < n; ++j)
            order[size_t(i * n + j)] = qint8(sign(compareVersions(versions[i], versions[j])));

    for (qsizetype i = 0; i < n; ++i) {
        for (qsizetype j = 0; j < n; ++j) {
            if (order[size_t(i * n + j)] != -order[size_t(j * n + i)])
                QFAIL(qPrintable(QStringLiteral("not antisymmetric: \"%1\" and \"%2\"").arg(versions[i], versions[j])));
        }
    }
    // a <= b and b <= c give a <= c, strictly when either step is strict.
    for (qsizetype i = 0; i < n; ++i) {
        const qint8 *fromI = &order[size_t(i * n)];
        for (qsizetype j = 0; j < n; ++j) {
            const qint8 ij = fromI[j];
            if (ij > 0)
                continue;
            const qint8 *fromJ = &order[size_t(j * n)];
            for (qsizetype k = 0; k < n; ++k) {
                const qint8 jk = fromJ[k];
                if (jk > 0)
                    continue;
                const qint8 expected = (ij < 0 || jk < 0) ? -1 : 0;
                if (fromI[k] != expected)
                    QFAIL(qPrintable(QStringLiteral("not transitive: \"%1\", \"%2\", \"%3\"")
                                         .arg(versions[i], versions[j], versions[k])));
            }
        }
    }
}

QTEST_GUILESS_MAIN(TestVersion)
#include "tst_version.moc"
