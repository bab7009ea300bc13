#include "platform/ProcessInfo.h"

#include <QCoreApplication>

namespace velmora::platform {
namespace {

class CurrentProcess final : public ProcessInfo
{
public:
    QProcessEnvironment environment() const override { return QProcessEnvironment::systemEnvironment(); }
    qint64 processId() const override { return QCoreApplication::applicationPid(); }
};

} // namespace

ProcessInfo &ProcessInfo::current()
{
    static CurrentProcess process;
    return process;
}

} // namespace velmora::platform
