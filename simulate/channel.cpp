#include "channel.h"

#include <QJsonDocument>

#include <cerrno>
#include <cstdint>
#include <unistd.h>

namespace simulate {

namespace {

bool writeAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        data += written;
        size -= size_t(written);
    }
    return true;
}

bool readAll(int fd, char* data, size_t size)
{
    while (size > 0) {
        const ssize_t got = ::read(fd, data, size);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        data += got;
        size -= size_t(got);
    }
    return true;
}

} // namespace

bool Channel::send(const QJsonObject& message) const
{
    // Length and text in one write, so that the reader wakes once, to a whole message.
    const QByteArray text = QJsonDocument(message).toJson(QJsonDocument::Compact);
    const uint32_t size = uint32_t(text.size());
    QByteArray frame(reinterpret_cast<const char*>(&size), sizeof size);
    frame += text;
    return writeAll(m_write, frame.constData(), size_t(frame.size()));
}

QJsonObject Channel::receive(bool* ok) const
{
    uint32_t size = 0;
    QByteArray text;
    bool read = readAll(m_read, reinterpret_cast<char*>(&size), sizeof size);
    if (read) {
        text.resize(int(size));
        read = readAll(m_read, text.data(), size);
    }
    if (ok) {
        *ok = read;
    }
    return read ? QJsonDocument::fromJson(text).object() : QJsonObject();
}

void Channel::close()
{
    if (m_read >= 0) {
        ::close(m_read);
    }
    if (m_write >= 0) {
        ::close(m_write);
    }
    m_read = m_write = -1;
}

} // namespace simulate
