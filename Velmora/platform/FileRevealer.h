#pragma once

#include <QString>

#include <chrono>
#include <functional>

namespace velmora::platform {

class UrlOpener;

// Shows a file selected in the user's file manager: the freedesktop FileManager1 "ShowItems"
// call on the session bus, which the common file managers answer; where none answers (no
// session bus, no such service, an error or no answer in time), the file's folder is opened
// with the default handler instead.
class FileRevealer
{
public:
    // How long the file manager may take to answer, including being started by the bus.
    static constexpr std::chrono::milliseconds answerTimeout{10'000};

    // opener: where the folder goes when no file manager answers.
    explicit FileRevealer(UrlOpener &opener);
    virtual ~FileRevealer() = default;

    // Asks for the file to be shown and returns at once. done (if set) is called once, on the
    // main thread: true when a file manager took the request or the folder's opener was
    // started, false when nothing could be started.
    virtual void reveal(const QString &file, std::function<void(bool)> done = {});

    static FileRevealer &system();

private:
    UrlOpener &m_opener;
};

} // namespace velmora::platform
