#pragma once

#include <QProcessEnvironment>

namespace velmora::platform {

// The application's own process: its environment and its process id.
class ProcessInfo
{
public:
    virtual ~ProcessInfo() = default;
    virtual QProcessEnvironment environment() const = 0;
    virtual qint64 processId() const = 0;

    static ProcessInfo &current();
};

class FixedProcessInfo : public ProcessInfo
{
public:
    QProcessEnvironment env;
    qint64 pid = 0;

    QProcessEnvironment environment() const override { return env; }
    qint64 processId() const override { return pid; }
};

} // namespace velmora::platform
