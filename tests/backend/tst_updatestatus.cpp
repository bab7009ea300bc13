#include "backend/UpdateStatus.h"

#include <QTest>

using namespace velmora;
using namespace velmora::backend;

Q_DECLARE_METATYPE(std::optional<bool>)

class TestUpdateStatus : public QObject
{
    Q_OBJECT
private slots:
    void address_data()
    {
        QTest::addColumn<QUrl>("base");
        QTest::addColumn<QUrl>("address");
        QTest::newRow("base URL") << QUrl("http://127.0.0.1:18760") << QUrl("http://127.0.0.1:18760/api/update-status");
        QTest::newRow("trailing separator")
            << QUrl("http://127.0.0.1:18760/") << QUrl("http://127.0.0.1:18760/api/update-status");
        QTest::newRow("under a path") << QUrl("http://127.0.0.1:18760/app")
                                      << QUrl("http://127.0.0.1:18760/app/api/update-status");
    }
    void address()
    {
        QFETCH(QUrl, base);
        QFETCH(QUrl, address);
        QCOMPARE(updateStatusUrl(base), address);
    }

    void classification_data()
    {
        QTest::addColumn<bool>("received");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<std::optional<bool>>("busy");
        const std::optional<bool> undetermined;
        QTest::newRow("busy") << true << 200 << QByteArray("{\"busy\": true}") << std::optional(true);
        QTest::newRow("idle") << true << 200 << QByteArray("{\"busy\": false}") << std::optional(false);
        QTest::newRow("other members are ignored")
            << true << 200 << QByteArray("{\"jobs\": [1, 2], \"busy\": false, \"x\": null}") << std::optional(false);
        QTest::newRow("no answer") << false << 0 << QByteArray() << undetermined;
        QTest::newRow("503 with busy false") << true << 503 << QByteArray("{\"busy\": false}") << undetermined;
        QTest::newRow("204") << true << 204 << QByteArray() << undetermined;
        QTest::newRow("busy \"no\"") << true << 200 << QByteArray("{\"busy\": \"no\"}") << undetermined;
        QTest::newRow("busy as a number") << true << 200 << QByteArray("{\"busy\": 1}") << undetermined;
        QTest::newRow("busy null") << true << 200 << QByteArray("{\"busy\": null}") << undetermined;
        QTest::newRow("empty object") << true << 200 << QByteArray("{}") << undetermined;
        QTest::newRow("array") << true << 200 << QByteArray("[{\"busy\": false}]") << undetermined;
        QTest::newRow("not JSON") << true << 200 << QByteArray("busy=false") << undetermined;
        QTest::newRow("empty body") << true << 200 << QByteArray() << undetermined;
    }
    void classification()
    {
        QFETCH(bool, received);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(std::optional<bool>, busy);
        platform::HttpResponse response;
        response.received = received;
        response.status = status;
        response.body = body;
        QCOMPARE(classifyUpdateStatus(response), busy);
    }

    void bodyBeyondTheLimitIsNoAnswer()
    {
        platform::HttpResponse response;
        response.received = true;
        response.status = 200;
        response.body = "{\"busy\": false}";
        response.bodyTooLarge = true;
        QCOMPARE(classifyUpdateStatus(response), std::nullopt);
    }

    void pageAnswer_data()
    {
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<bool>("agrees");
        QTest::newRow("true") << true << QVariant(true) << true;
        QTest::newRow("false") << true << QVariant(false) << false;
        QTest::newRow("the string \"true\"") << true << QVariant("true") << false;
        QTest::newRow("the number 1") << true << QVariant(1) << false;
        QTest::newRow("no value") << true << QVariant() << false;
        QTest::newRow("failed run") << false << QVariant(true) << false;
    }
    void pageAnswer()
    {
        QFETCH(bool, ok);
        QFETCH(QVariant, value);
        QFETCH(bool, agrees);
        QCOMPARE(pageAgreesToRelaunch({ok, value}), agrees);
    }
};

QTEST_GUILESS_MAIN(TestUpdateStatus)
#include "tst_updatestatus.moc"
