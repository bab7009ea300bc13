#include "backend/LaunchPlan.h"

#include "backend/Texts.h"
#include "platform/FileSystem.h"

#include <QDir>
#include <QFileInfo>

#include <limits>

namespace velmora::backend {

namespace {

// Where a bundle without an interpreter entry of its own keeps its interpreter.
const QString defaultInterpreter = QStringLiteral("python/bin/python3.12");
const QString portVariable = QStringLiteral("VELMORA_DESKTOP_PORT");
const QString loopbackHost = QStringLiteral("127.0.0.1");
const QString fallbackPath = QStringLiteral("/usr/bin:/bin:/usr/sbin:/sbin");
const QString pathSuffix = QStringLiteral(":/opt/homebrew/bin:/usr/local/bin");

// Appends a relative path's components to a location; the result has no trailing separator.
QString appending(const QString &location, const QString &relative)
{
    return QDir::cleanPath(location + QLatin1Char('/') + relative);
}

QString directoryLocation(const QString &path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

} // namespace

LaunchPlanResolution resolveLaunchPlan(const platform::Bundle &bundle)
{
    LaunchPlanResolution result;
    LaunchPlan &plan = result.plan;

    const QVariant projectRoot = bundle.infoValue(platform::bundleKey::projectRoot);
    if (projectRoot.isValid() && projectRoot.typeId() == QMetaType::QString) {
        const QString root = directoryLocation(projectRoot.toString());
        const QString script = appending(root, QStringLiteral("scripts/run-app.sh"));
        if (!platform::fileExists(script)) {
            result.error = scriptMissingMessage;
            return result;
        }
        // The shell runs the script, so it need not be executable itself.
        plan.executable = QStringLiteral("/bin/bash");
        plan.baseArguments = {script};
        plan.runtimeDirectory = root;
        plan.packaged = false;
        return result;
    }

    const std::optional<QString> resources = bundle.resourceDirectory();
    if (!resources) {
        result.error = resourcesMissingMessage;
        return result;
    }
    const std::optional<QString> applicationSupport = bundle.applicationSupportDirectory();
    if (!applicationSupport) {
        result.error = dataFolderMissingMessage;
        return result;
    }
    const QString resourceDirectory = QDir::cleanPath(*resources);
    plan.codeDirectory = appending(resourceDirectory, QStringLiteral("app"));
    plan.runtimeDirectory = appending(*applicationSupport, QStringLiteral("Velmora"));
    // A bundle built for a system whose interpreter has another version names its own entry.
    const QVariant interpreter = bundle.infoValue(platform::bundleKey::bundledInterpreter);
    const bool named = interpreter.typeId() == QMetaType::QString && !interpreter.toString().isEmpty();
    plan.executable = appending(resourceDirectory, named ? interpreter.toString() : defaultInterpreter);
    if (!platform::isExecutableFile(plan.executable)) {
        result.error = interpreterMissingMessage;
        return result;
    }
    plan.baseArguments = {
        QStringLiteral("-m"),
        QStringLiteral("uvicorn"),
        QStringLiteral("src.main:app"),
        QStringLiteral("--loop"),
        QStringLiteral("asyncio"),
        QStringLiteral("--http"),
        QStringLiteral("h11"),
        QStringLiteral("--ws"),
        QStringLiteral("none"),
        QStringLiteral("--host"),
        loopbackHost,
        QStringLiteral("--port"),
    };
    plan.packaged = true;
    return result;
}

std::optional<qint64> parseDecimalInteger(const QString &text)
{
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    if (i == text.size())
        return std::nullopt;

    // Accumulate the magnitude unsigned so the most negative value still fits.
    const quint64 limit = negative ? quint64(std::numeric_limits<qint64>::max()) + 1
                                   : quint64(std::numeric_limits<qint64>::max());
    quint64 magnitude = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        const quint64 digit = c - u'0';
        if (magnitude > (limit - digit) / 10)
            return std::nullopt;
        magnitude = magnitude * 10 + digit;
    }
    if (!negative)
        return qint64(magnitude);
    return magnitude == limit ? std::numeric_limits<qint64>::min() : -qint64(magnitude);
}

PortResolution resolvePort(const platform::ProcessInfo &processInfo)
{
    PortResolution result;
    const QProcessEnvironment environment = processInfo.environment();
    const QString text = environment.contains(portVariable) ? environment.value(portVariable) : QString::number(defaultPort);
    const qint64 number = parseDecimalInteger(text).value_or(defaultPort);
    if (number < lowestPort || number > highestPort) {
        result.error = portRangeMessage;
        return result;
    }
    result.port = int(number);
    result.baseUrl = QUrl(QStringLiteral("http://127.0.0.1:%1").arg(result.port));
    if (!result.baseUrl.isValid()) {
        result.error = portRangeMessage;
        result.baseUrl.clear();
    }
    return result;
}

QStringList argumentVector(const LaunchPlan &plan, int port)
{
    if (!plan.packaged)
        return plan.baseArguments;
    return plan.baseArguments + QStringList{QString::number(port), QStringLiteral("--workers"), QStringLiteral("1")};
}

QProcessEnvironment backendEnvironment(const LaunchPlan &plan, int port, const platform::ProcessInfo &processInfo,
                                       const platform::Bundle &bundle)
{
    QProcessEnvironment environment = processInfo.environment();
    const QString path = QStringLiteral("PATH");
    environment.insert(path, (environment.contains(path) ? environment.value(path) : fallbackPath) + pathSuffix);
    environment.insert(QStringLiteral("VELMORA_DESKTOP_HOST"), loopbackHost);
    environment.insert(portVariable, QString::number(port));
    environment.insert(QStringLiteral("VELMORA_DESKTOP_PARENT_PID"), QString::number(processInfo.processId()));

    if (!plan.packaged)
        return environment;
    const std::optional<QString> resources = bundle.resourceDirectory();
    if (!resources)
        return environment;

    const QString runtime = plan.runtimeDirectory;
    environment.remove(QStringLiteral("PYTHONHOME"));
    environment.insert(QStringLiteral("PYTHONPATH"), plan.codeDirectory);
    environment.insert(QStringLiteral("PYTHONNOUSERSITE"), QStringLiteral("1"));
    environment.insert(QStringLiteral("PYTHONDONTWRITEBYTECODE"), QStringLiteral("1"));
    environment.insert(QStringLiteral("TALO_DATA_DIR"), appending(runtime, QStringLiteral("data")));
    environment.insert(QStringLiteral("TALO_RUNTIME_DIR"), runtime);
    environment.insert(QStringLiteral("MLX_VENV"), appending(runtime, QStringLiteral(".venv-mlx")));
    environment.insert(QStringLiteral("VELMORA_BUNDLED_RESOURCES"), QDir::cleanPath(*resources));
    environment.insert(QStringLiteral("UV_BIN"), appending(runtime, QStringLiteral("runtime-tools/uv")));
    environment.insert(QStringLiteral("UV_CACHE_DIR"), appending(runtime, QStringLiteral(".cache/uv")));
    environment.insert(QStringLiteral("UV_PYTHON_INSTALL_DIR"), appending(runtime, QStringLiteral(".cache/uv/python")));
    return environment;
}

QString logDirectoryPath(const QString &runtimeDirectory)
{
    return appending(runtimeDirectory, QStringLiteral("logs"));
}

QString logFilePath(const QString &runtimeDirectory)
{
    return appending(logDirectoryPath(runtimeDirectory), QStringLiteral("desktop.log"));
}

} // namespace velmora::backend
