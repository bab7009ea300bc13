#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace velmora::platform {

// What a relaunch request produced: the new instance's process id, or the platform's error.
struct RelaunchResult
{
    qint64 processId = 0; // 0 = no process was started
    QString error;        // empty = no error

    bool started() const { return error.isEmpty() && processId > 0; }
};

// Starts a new instance of the running application, the usual way for a freshly granted
// permission to take effect. On Linux the own executable is started detached with the same
// arguments; the new instance finds the old process id in relaunchedFromVariable so that it
// can wait for its predecessor instead of handing itself over to it.
class Relauncher
{
public:
    // An empty program means the running executable with the running arguments.
    explicit Relauncher(QString program = {}, QStringList arguments = {})
        : m_program(std::move(program))
        , m_arguments(std::move(arguments))
    {}
    virtual ~Relauncher() = default;

    // Requests the relaunch. completion runs exactly once, possibly on another thread and
    // possibly before relaunch returns.
    virtual void relaunch(std::function<void(RelaunchResult)> completion);

    static Relauncher &system();

    // Replaces the running process with program (execv): the same process id, environment and
    // open standard streams. Returns only on failure, with the system's description.
    static QString replaceProcess(const QString &program, const QStringList &arguments);

    // Environment variable carrying the process id of the instance that asked for the relaunch.
    static constexpr const char *relaunchedFromVariable = "VELMORA_RELAUNCHED_FROM";

private:
    QString m_program;
    QStringList m_arguments;
};

} // namespace velmora::platform
