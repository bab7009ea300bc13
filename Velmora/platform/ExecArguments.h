#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

#include <vector>

namespace velmora::platform {

// The null-terminated array of C strings that exec and posix_spawn take, with the bytes it
// points into. Made before a fork: the child then only reads it.
class ExecArguments
{
public:
    explicit ExecArguments(std::vector<QByteArray> items) : m_items(std::move(items))
    {
        m_pointers.reserve(m_items.size() + 1);
        for (QByteArray &item : m_items)
            m_pointers.push_back(item.data());
        m_pointers.push_back(nullptr);
    }
    Q_DISABLE_COPY_MOVE(ExecArguments)

    // A command line: the program's path in the file system's encoding, then its arguments.
    static std::vector<QByteArray> commandLine(const QString &program, const QStringList &arguments)
    {
        std::vector<QByteArray> items;
        items.reserve(arguments.size() + 1);
        items.push_back(QFile::encodeName(program));
        for (const QString &argument : arguments)
            items.push_back(argument.toLocal8Bit());
        return items;
    }

    char *const *data() const { return m_pointers.data(); }
    // The first string (a command line's program); the array must not be empty.
    const char *first() const { return m_pointers.front(); }

private:
    std::vector<QByteArray> m_items;
    std::vector<char *> m_pointers;
};

} // namespace velmora::platform
