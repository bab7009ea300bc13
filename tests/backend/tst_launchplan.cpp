#include "TestSupport.h"

#include "backend/LaunchPlan.h"
#include "platform/FileSystem.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstring>

#include <unistd.h>

using namespace velmora;
using backend::LaunchPlan;
using test::readFile;
using test::writeFile;

namespace {

const QStringList packagedArguments = {"-m",  "uvicorn", "src.main:app", "--loop", "asyncio",   "--http",
                                       "h11", "--ws",    "none",         "--host", "127.0.0.1", "--port"};

platform::FixedProcessInfo processWith(std::initializer_list<std::pair<QString, QString>> variables, qint64 pid = 4321)
{
    platform::FixedProcessInfo info;
    for (const auto &[name, value] : variables)
        info.env.insert(name, value);
    info.pid = pid;
    return info;
}

} // namespace

class TestLaunchPlan : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QString path(const QString &relative) const { return m_dir.filePath(relative); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        // A development project with its start script (not executable: the shell runs it).
        QVERIFY(writeFile(path("project/scripts/run-app.sh"), "#!/bin/bash\n"));
        QDir().mkpath(path("moved-project"));
        // Packaged bundles: a usable one, one without the interpreter, one whose interpreter
        // lacks the execute permission, one where the interpreter's path is a folder.
        QVERIFY(writeFile(path("good/Resources/python/bin/python3.12"), "#!/bin/sh\n", true));
        // A bundle may name another interpreter entry beside the default one.
        QVERIFY(writeFile(path("good/Resources/python/bin/python3"), "#!/bin/sh\n", true));
        QDir().mkpath(path("no-python/Resources/app"));
        QVERIFY(writeFile(path("plain-python/Resources/python/bin/python3.12"), "#!/bin/sh\n"));
        QDir().mkpath(path("folder-python/Resources/python/bin/python3.12"));
    }

    void resolvesPlan_data()
    {
        QTest::addColumn<QVariant>("projectRoot");
        QTest::addColumn<QString>("resources");   // relative; empty = none reported
        QTest::addColumn<QVariant>("entry");      // "VelmoraBundledInterpreter"; invalid = absent
        QTest::addColumn<QString>("interpreter"); // expected, relative to the resources
        QTest::addColumn<QString>("error");
        QTest::addColumn<bool>("packaged");

        const QString standard = "python/bin/python3.12";
        QTest::newRow("development") << QVariant(path("project")) << "good/Resources" << QVariant() << QString() << QString()
                                     << false;
        QTest::newRow("development, trailing separator")
            << QVariant(path("project") + "/") << QString() << QVariant() << QString() << QString() << false;
        QTest::newRow("development, script missing") << QVariant(path("moved-project")) << "good/Resources" << QVariant()
                                                     << QString() << backend::scriptMissingMessage << false;
        QTest::newRow("root is a number: packaged")
            << QVariant(42) << "good/Resources" << QVariant() << standard << QString() << true;
        QTest::newRow("root is a Boolean: packaged")
            << QVariant(true) << "good/Resources" << QVariant() << standard << QString() << true;
        QTest::newRow("packaged") << QVariant() << "good/Resources" << QVariant() << standard << QString() << true;
        QTest::newRow("packaged, no resources")
            << QVariant() << QString() << QVariant() << QString() << backend::resourcesMissingMessage << true;
        QTest::newRow("packaged, interpreter missing")
            << QVariant() << "no-python/Resources" << QVariant() << QString() << backend::interpreterMissingMessage << true;
        QTest::newRow("packaged, interpreter not executable") << QVariant() << "plain-python/Resources" << QVariant()
                                                              << QString() << backend::interpreterMissingMessage << true;
        QTest::newRow("packaged, interpreter is a folder") << QVariant() << "folder-python/Resources" << QVariant()
                                                           << QString() << backend::interpreterMissingMessage << true;
        QTest::newRow("packaged, entry named")
            << QVariant() << "good/Resources" << QVariant("python/bin/python3") << "python/bin/python3" << QString() << true;
        // The named entry is the one that must be there, even when the default one is.
        QTest::newRow("packaged, named entry missing") << QVariant() << "good/Resources" << QVariant("python/bin/python3.11")
                                                       << QString() << backend::interpreterMissingMessage << true;
        QTest::newRow("packaged, named entry not executable")
            << QVariant() << "plain-python/Resources" << QVariant("python/bin/python3.12") << QString()
            << backend::interpreterMissingMessage << true;
        QTest::newRow("packaged, empty entry: default")
            << QVariant() << "good/Resources" << QVariant("") << standard << QString() << true;
        QTest::newRow("packaged, entry a number: default")
            << QVariant() << "good/Resources" << QVariant(3) << standard << QString() << true;
        QTest::newRow("development ignores the entry") << QVariant(path("project")) << "no-python/Resources"
                                                       << QVariant("python/bin/python3") << QString() << QString() << false;
    }

    void resolvesPlan()
    {
        QFETCH(QVariant, projectRoot);
        QFETCH(QString, resources);
        QFETCH(QVariant, entry);
        QFETCH(QString, interpreter);
        QFETCH(QString, error);
        QFETCH(bool, packaged);

        platform::FixedBundle bundle;
        if (projectRoot.isValid())
            bundle.info.insert("VelmoraProjectRoot", projectRoot);
        if (entry.isValid())
            bundle.info.insert("VelmoraBundledInterpreter", entry);
        bundle.info.insert("CFBundleShortVersionString", "1.0");
        if (!resources.isEmpty())
            bundle.resources = path(resources);
        bundle.applicationSupport = path("support");

        const auto resolution = backend::resolveLaunchPlan(bundle);
        QCOMPARE(resolution.error, error);
        // Resolving never creates anything.
        QVERIFY(!QFileInfo::exists(path("support")));
        if (!error.isEmpty())
            return;

        const LaunchPlan &plan = resolution.plan;
        QCOMPARE(plan.packaged, packaged);
        if (packaged) {
            QCOMPARE(plan.executable, path(resources + "/" + interpreter));
            QCOMPARE(plan.baseArguments, packagedArguments);
            QCOMPARE(plan.runtimeDirectory, path("support/Velmora"));
            QCOMPARE(plan.codeDirectory, path(resources + "/app"));
        } else {
            QCOMPARE(plan.executable, QString("/bin/bash"));
            QCOMPARE(plan.baseArguments, QStringList{path("project/scripts/run-app.sh")});
            QCOMPARE(plan.runtimeDirectory, path("project"));
        }
    }

    void resolvesPort_data()
    {
        QTest::addColumn<bool>("set");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("port"); // 0 = the range message

        QTest::newRow("absent") << false << QString() << 18760;
        QTest::newRow("abc") << true << "abc" << 18760;
        QTest::newRow("empty") << true << "" << 18760;
        QTest::newRow("leading space") << true << " 20000" << 18760;
        QTest::newRow("trailing space") << true << "20000 " << 18760;
        QTest::newRow("two signs") << true << "+-20000" << 18760;
        QTest::newRow("sign only") << true << "+" << 18760;
        QTest::newRow("non-ASCII digits") << true << QString::fromUtf8("２００００") << 18760;
        QTest::newRow("too large for 64 bits") << true << "99999999999999999999" << 18760;
        QTest::newRow("just over 64 bits") << true << "9223372036854775808" << 18760;
        QTest::newRow("largest 64-bit") << true << "9223372036854775807" << 0;
        QTest::newRow("smallest 64-bit") << true << "-9223372036854775808" << 0;
        QTest::newRow("80") << true << "80" << 0;
        QTest::newRow("0") << true << "0" << 0;
        QTest::newRow("-1") << true << "-1" << 0;
        QTest::newRow("65536") << true << "65536" << 0;
        QTest::newRow("1023") << true << "1023" << 0;
        QTest::newRow("1024") << true << "1024" << 1024;
        QTest::newRow("65535") << true << "65535" << 65535;
        QTest::newRow("+20000") << true << "+20000" << 20000;
        QTest::newRow("020000") << true << "020000" << 20000;
    }

    void resolvesPort()
    {
        QFETCH(bool, set);
        QFETCH(QString, text);
        QFETCH(int, port);

        platform::FixedProcessInfo info;
        if (set)
            info.env.insert("VELMORA_DESKTOP_PORT", text);
        const auto resolution = backend::resolvePort(info);
        if (port == 0) {
            QCOMPARE(resolution.error, backend::portRangeMessage);
            return;
        }
        QCOMPARE(resolution.error, QString());
        QCOMPARE(resolution.port, port);
        QCOMPARE(resolution.baseUrl.toString(), QString("http://127.0.0.1:%1").arg(port));
    }

    void buildsArgumentVector()
    {
        LaunchPlan packaged{"/r/python/bin/python3.12", packagedArguments, "/s/Velmora", "/r/app", true};
        QCOMPARE(backend::argumentVector(packaged, 18760),
                 QStringList({"-m", "uvicorn", "src.main:app", "--loop", "asyncio", "--http", "h11", "--ws", "none",
                              "--host", "127.0.0.1", "--port", "18760", "--workers", "1"}));
        // The script learns the port only from its environment.
        LaunchPlan development{"/bin/bash", {"/p/scripts/run-app.sh"}, "/p", {}, false};
        QCOMPARE(backend::argumentVector(development, 20000), QStringList{"/p/scripts/run-app.sh"});
    }

    void buildsEnvironment_data()
    {
        QTest::addColumn<bool>("packaged");
        QTest::addColumn<bool>("resourcesAtLaunch");
        QTest::addColumn<QString>("inheritedPath"); // null = no PATH
        QTest::addColumn<QString>("expectedPath");

        const QString suffix = ":/opt/homebrew/bin:/usr/local/bin";
        QTest::newRow("development, no PATH") << false << true << QString() << "/usr/bin:/bin:/usr/sbin:/sbin" + suffix;
        QTest::newRow("development, PATH with the suffix already")
            << false << true << "/usr/bin" + suffix << "/usr/bin" + suffix + suffix;
        QTest::newRow("packaged, no PATH") << true << true << QString() << "/usr/bin:/bin:/usr/sbin:/sbin" + suffix;
        QTest::newRow("packaged, PATH") << true << true << "/home/u/bin:/usr/bin"
                                        << "/home/u/bin:/usr/bin" + suffix;
        QTest::newRow("packaged, resources gone at launch") << true << false << "/usr/bin"
                                                            << "/usr/bin" + suffix;
    }

    void buildsEnvironment()
    {
        QFETCH(bool, packaged);
        QFETCH(bool, resourcesAtLaunch);
        QFETCH(QString, inheritedPath);
        QFETCH(QString, expectedPath);

        auto info = processWith({{"PYTHONHOME", "/opt/py"},
                                 {"PYTHONPATH", "/mine"},
                                 {"VELMORA_DESKTOP_HOST", "0.0.0.0"},
                                 {"VELMORA_DESKTOP_PORT", "+20000"},
                                 {"UNRELATED", "kept"}},
                                4321);
        if (!inheritedPath.isNull())
            info.env.insert("PATH", inheritedPath);
        platform::FixedBundle bundle;
        if (resourcesAtLaunch)
            bundle.resources = "/b/Resources/";
        const LaunchPlan plan = packaged ? LaunchPlan{"/b/Resources/python/bin/python3.12", packagedArguments, "/s/Velmora",
                                                      "/b/Resources/app", true}
                                         : LaunchPlan{"/bin/bash", {"/p/scripts/run-app.sh"}, "/p", {}, false};

        const QProcessEnvironment env = backend::backendEnvironment(plan, 20000, info, bundle);
        QCOMPARE(env.value("PATH"), expectedPath);
        QCOMPARE(env.value("VELMORA_DESKTOP_HOST"), QString("127.0.0.1"));
        QCOMPARE(env.value("VELMORA_DESKTOP_PORT"), QString("20000"));
        QCOMPARE(env.value("VELMORA_DESKTOP_PARENT_PID"), QString("4321"));
        QCOMPARE(env.value("UNRELATED"), QString("kept"));

        const QStringList packagedNames = {"PYTHONNOUSERSITE",
                                           "PYTHONDONTWRITEBYTECODE",
                                           "TALO_DATA_DIR",
                                           "TALO_RUNTIME_DIR",
                                           "MLX_VENV",
                                           "VELMORA_BUNDLED_RESOURCES",
                                           "UV_BIN",
                                           "UV_CACHE_DIR",
                                           "UV_PYTHON_INSTALL_DIR"};
        if (!packaged || !resourcesAtLaunch) {
            // The inherited interpreter settings pass through untouched.
            QCOMPARE(env.value("PYTHONHOME"), QString("/opt/py"));
            QCOMPARE(env.value("PYTHONPATH"), QString("/mine"));
            for (const QString &name : packagedNames)
                QVERIFY2(!env.contains(name), qPrintable(name));
            // Only PATH (when absent) and the parent pid are new; host and port replace inherited values.
            QCOMPARE(env.keys().size(), info.env.keys().size() + 1 + (inheritedPath.isNull() ? 1 : 0));
            return;
        }
        QVERIFY(!env.contains("PYTHONHOME"));
        QCOMPARE(env.value("PYTHONPATH"), QString("/b/Resources/app"));
        QCOMPARE(env.value("PYTHONNOUSERSITE"), QString("1"));
        QCOMPARE(env.value("PYTHONDONTWRITEBYTECODE"), QString("1"));
        QCOMPARE(env.value("TALO_DATA_DIR"), QString("/s/Velmora/data"));
        QCOMPARE(env.value("TALO_RUNTIME_DIR"), QString("/s/Velmora"));
        QCOMPARE(env.value("MLX_VENV"), QString("/s/Velmora/.venv-mlx"));
        QCOMPARE(env.value("VELMORA_BUNDLED_RESOURCES"), QString("/b/Resources"));
        QCOMPARE(env.value("UV_BIN"), QString("/s/Velmora/runtime-tools/uv"));
        QCOMPARE(env.value("UV_CACHE_DIR"), QString("/s/Velmora/.cache/uv"));
        QCOMPARE(env.value("UV_PYTHON_INSTALL_DIR"), QString("/s/Velmora/.cache/uv/python"));
    }

    void logIsCreatedWithItsFolders()
    {
        QTemporaryDir dir;
        const QString runtime = dir.filePath("a/b/Velmora");
        QString reported;
        auto log = platform::openAppendingFile(backend::logFilePath(runtime), [&](const QString &file) {
            reported = file;
            // The location is known before the file is opened.
            QVERIFY(!QFileInfo::exists(file));
        });
        QVERIFY2(log.ok(), qPrintable(log.error));
        QCOMPARE(reported, dir.filePath("a/b/Velmora/logs/desktop.log"));
        QVERIFY(log.handle.isOpen());
        QVERIFY(QFileInfo(reported).isFile());
    }

    void logAppendsAndNeverTruncates()
    {
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath("logs/desktop.log"), "old run\n"));

        auto first = platform::openAppendingFile(backend::logFilePath(dir.path()));
        QVERIFY2(first.ok(), qPrintable(first.error));
        QCOMPARE(readFile(dir.filePath("logs/desktop.log")), QByteArray("old run\n"));
        QCOMPARE(::write(first.handle.fd(), "first\n", 6), ssize_t(6));

        // A second writer (say, a backend still winding down) does not overwrite the first.
        auto second = platform::openAppendingFile(backend::logFilePath(dir.path()));
        QVERIFY(second.ok());
        QCOMPARE(::write(second.handle.fd(), "second\n", 7), ssize_t(7));
        QCOMPARE(::write(first.handle.fd(), "first again\n", 12), ssize_t(12));
        QCOMPARE(readFile(dir.filePath("logs/desktop.log")), QByteArray("old run\nfirst\nsecond\nfirst again\n"));
    }

    void logFailuresCarryThePlatformError()
    {
        QTemporaryDir dir;
        // The runtime folder would have to be inside a regular file.
        QVERIFY(writeFile(dir.filePath("file"), "x"));
        bool reported = false;
        auto noFolder = platform::openAppendingFile(backend::logFilePath(dir.filePath("file/Velmora")),
                                                    [&](const QString &) { reported = true; });
        QVERIFY(!noFolder.ok());
        QCOMPARE(noFolder.error, QString::fromLocal8Bit(std::strerror(ENOTDIR)));
        QVERIFY(!reported);
        QVERIFY(!noFolder.handle.isOpen());

        // The folder is there but the log file cannot be opened: the location was handed out.
        QVERIFY(QDir().mkpath(dir.filePath("rt/logs/desktop.log")));
        QString location;
        auto noFile = platform::openAppendingFile(backend::logFilePath(dir.filePath("rt")),
                                                  [&](const QString &file) { location = file; });
        QCOMPARE(noFile.error, QString::fromLocal8Bit(std::strerror(EISDIR)));
        QCOMPARE(location, dir.filePath("rt/logs/desktop.log"));
    }
};

QTEST_GUILESS_MAIN(TestLaunchPlan)
#include "tst_launchplan.moc"
