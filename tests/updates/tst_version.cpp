#include "updates/Version.h"

#include <QTest>

using velmora::updates::compareVersions;

class TestVersion : public QObject
{
    Q_OBJECT
private slots:
    void compare_data();
    void compare();
};

namespace {
int sign(std::weak_ordering order)
{
    return order < 0 ? -1 : order > 0 ? 1 : 0;
}
} // namespace

void TestVersion::compare_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<int>("expected"); // sign of a compared with b

    QTest::newRow("same") << "1.0" << "1.0" << 0;
    QTest::newRow("patch newer") << "1.0" << "1.0.1" << -1;
    QTest::newRow("numbers not text: 1.10 > 1.9") << "1.10" << "1.9" << 1;
    QTest::newRow("major wins: 2.0 > 1.99.9") << "2.0" << "1.99.9" << 1;
    QTest::newRow("trailing zero ignored") << "1.0" << "1.0.0" << 0;
    QTest::newRow("several trailing zeros") << "2" << "2.0.0.0" << 0;
    QTest::newRow("leading zeros ignored") << "1.01" << "1.1" << 0;
    QTest::newRow("alpha before beta") << "1.0a1" << "1.0b1" << -1;
    QTest::newRow("beta before release") << "1.0b1" << "1.0" << -1;
    QTest::newRow("rc before release") << "1.0rc1" << "1.0" << -1;
    QTest::newRow("beta before rc") << "1.0b2" << "1.0rc1" << -1;
    QTest::newRow("beta 9 before beta 10") << "1.0b9" << "1.0b10" << -1;
    QTest::newRow("pre-release after trailing zero") << "1.0.0b1" << "1.0" << -1;
    QTest::newRow("pre-release of next patch is newer") << "1.0.1b1" << "1.0" << 1;
    QTest::newRow("dash pre-release") << "1.0-beta" << "1.0" << -1;
    QTest::newRow("letter where a separator stands") << "1a" << "1.0" << -1;
    QTest::newRow("number where a separator stands") << "10" << "1.0" << 1;
    QTest::newRow("separator runs count as one") << "1..2" << "1.2" << 0;
    QTest::newRow("space is a separator") << "1 2" << "1.2" << 0;
    QTest::newRow("build numbers") << "120" << "99" << 1;
    QTest::newRow("numbers longer than 64 bits") << "1.18446744073709551616" << "1.18446744073709551615" << 1;
    QTest::newRow("empty is oldest") << "" << "0.1" << -1;
    QTest::newRow("text parts compare as text") << "1.0beta" << "1.0alpha" << 1;
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

QTEST_GUILESS_MAIN(TestVersion)
#include "tst_version.moc"
