#pragma once

#include <utility>

namespace velmora::platform {

// An open file descriptor, closed when the handle goes away.
class FileHandle
{
public:
    FileHandle() = default;
    explicit FileHandle(int fd) : m_fd(fd) {}
    FileHandle(const FileHandle &) = delete;
    FileHandle &operator=(const FileHandle &) = delete;
    FileHandle(FileHandle &&other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    FileHandle &operator=(FileHandle &&other) noexcept;
    ~FileHandle() { close(); }

    int fd() const { return m_fd; }
    bool isOpen() const { return m_fd >= 0; }
    // Closing errors are ignored: there is nothing useful to do about them.
    void close();

private:
    int m_fd = -1;
};

} // namespace velmora::platform
