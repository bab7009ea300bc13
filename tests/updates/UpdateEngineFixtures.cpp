#include "UpdateEngineFixtures.h"

#include "updates/BundleInfo.h"
#include "updates/UpdateSignature.h"

#include "UpdateFixtures.h"
#include "platform/Relauncher.h"

#include <QDir>
#include <QTest>

namespace velmora::test {

using updates::signData;
using updates::UpdateEngine;
using updates::UpdateEngineConfiguration;

void EngineTestCase::setUpTestCase()
{
    const test::TestCertificate &certificate = test::TestCertificate::localhost();
    QVERIFY2(certificate.isValid(), qPrintable(certificate.error()));
    m_http.setSslConfiguration(certificate.clientConfiguration());
}

void EngineTestCase::setUpCase()
{
    // Settings go to a fresh folder of this test, never into the user's own.
    m_settings.emplace();
    QVERIFY(m_settings->isValid());

    m_delegates = RecordingDelegates();
    m_server = std::make_unique<test::LoopbackHttpsServer>();
    QVERIFY2(m_server->listen(), qPrintable(m_server->errorString()));
}

void EngineTestCase::tearDownCase()
{
    // The engine of the case is gone and cancelled its requests; their coroutines end once the
    // aborted replies are delivered.
    drainEvents();
    m_server.reset();
    m_install.reset();
    m_settings.reset();
}

std::unique_ptr<UpdateEngine> EngineTestCase::makeEngine(const QString &feedUrl, std::chrono::milliseconds timeout)
{
    auto engine = std::make_unique<UpdateEngine>(
        m_delegates, m_delegates, UpdateEngineConfiguration{feedUrl, QStringLiteral("1.0"), &m_http, timeout});
    equip(*engine);
    return engine;
}

void EngineTestCase::stageInstall(const QByteArray &archive, const QByteArray &itemVersion)
{
    m_install = std::make_unique<QTemporaryDir>();
    QVERIFY(m_install->isValid());
    const QDir dir(m_install->path());
    QVERIFY(dir.mkpath(QStringLiteral("Apps")));
    m_bundle = dir.filePath(QStringLiteral("Apps/velmora"));
    QVERIFY(
        test::writeBundle(m_bundle, QStringLiteral("1.0"), test::harnessLauncher(), "\"VelmoraTestBehaviour\": \"report\""));
    m_oldTree = test::describeTree(m_bundle);
    m_packages = std::make_unique<platform::PackageOwnership>(dir.filePath(QStringLiteral("dpkg-info")));

    if (archive.isEmpty()) {
        // The new version confirms itself when it starts; its model file makes the download
        // arrive in many pieces.
        QList<test::TarEntry> entries = test::bundleEntries(QStringLiteral("1.1"), test::harnessLauncher(),
                                                            "\"VelmoraTestBehaviour\": \"confirm\"");
        entries << test::TarEntry::file("velmora/Resources/app/model.bin", test::incompressible(3 * 1024 * 1024));
        m_archive = test::makeTarGz(entries);
    } else {
        m_archive = archive;
    }
    m_served = m_archive;
    m_feedBody = feed(linuxItem(itemVersion, m_server->url(QStringLiteral("/Velmora-1.1.tar.gz")).toString().toUtf8(),
                                m_archive.size(), signData(m_archive, test::testKeys()).toUtf8()));
    m_server->setHandler([this](const QByteArray &, const QString &path) {
        if (path == QLatin1String("/appcast.xml"))
            return HttpReply{200, m_feedBody, {}, false};
        if (path == QLatin1String("/notes/1.1.md"))
            return HttpReply{200, QByteArrayLiteral("<h2>Velmora 1.1</h2><p>더 빠른 시작<br>안정성 개선</p>"), {}, false};
        if (path == QLatin1String("/Velmora-1.1.tar.gz") && !m_archiveRedirect.isEmpty())
            return HttpReply{302, {}, {{"Location", m_archiveRedirect}}, false};
        if (path == QLatin1String("/Velmora-1.1.tar.gz"))
            return HttpReply{
                200, m_served, {}, false, -1, m_archiveHeldHalfway ? m_served.size() / 2 : -1, m_archiveHeldHalfway};
        return HttpReply{404, "not here", {}, false};
    });
    m_archiveRedirect.clear();
    m_archiveHeldHalfway = false;
    m_relaunched.clear();
    m_quits = 0;
}

QByteArray EngineTestCase::linuxItem(const QByteArray &version, const QByteArray &url, qint64 length,
                                     const QByteArray &signature) const
{
    const QByteArray notes = m_server->url(QStringLiteral("/notes/1.1.md")).toString().toUtf8();
    const QByteArray signatureAttribute = signature.isEmpty() ? QByteArray() : " sparkle:edSignature=\"" + signature + "\"";
    return "<item><title>Velmora " + version + "</title><sparkle:version>" + version
           + "</sparkle:version><sparkle:shortVersionString>" + version
           + "</sparkle:shortVersionString>"
             "<sparkle:releaseNotesLink>"
           + notes
           + "</sparkle:releaseNotesLink>"
             "<enclosure url=\""
           + url + "\" length=\"" + QByteArray::number(length) + "\" type=\"application/gzip\" sparkle:os=\"linux\""
           + ownArchitecture() + signatureAttribute + "/></item>";
}

UpdateEngineConfiguration EngineTestCase::installConfiguration()
{
    UpdateEngineConfiguration configuration{feedUrl(), QStringLiteral("1.0"), &m_http};
    configuration.installer.bundle = m_bundle;
    configuration.installer.publicKeys = QStringList{test::testPublicKey()};
    configuration.installer.packages = m_packages.get();
    configuration.installer.relaunch = [this](const QString &program) {
        m_relaunched << program;
        return platform::RelaunchResult{4242, {}};
    };
    configuration.releaseNotesHosts = QStringList{QStringLiteral("localhost")};
    configuration.quit = [this] { ++m_quits; };
    return configuration;
}

std::unique_ptr<UpdateEngine> EngineTestCase::makeInstallEngine(UpdateEngineConfiguration configuration)
{
    auto engine = std::make_unique<UpdateEngine>(m_delegates, m_delegates, std::move(configuration));
    equip(*engine);
    engine->startUpdater();
    return engine;
}

QString EngineTestCase::bundleVersion() const
{
    return updates::parseBundleInfo(test::readFile(m_bundle + QStringLiteral("/Info.json"))).version;
}

} // namespace velmora::test
