#pragma once

#include <QString>

#include <chrono>

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

    // Asks for the file to be shown and returns at once.
    virtual void reveal(const QString &file);

    static FileRevealer &system();

private:
    UrlOpener &m_opener;
};

} // namespace velmora::platform
