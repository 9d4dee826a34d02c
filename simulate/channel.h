#pragma once

#include <QJsonObject>

namespace simulate {

/// One end of the pipes between the simulation and a till process it forked: whole JSON
/// objects, each sent as its length and its compact text. Blocking, and nothing is ever
/// lost or reordered; a closed pipe reads as an empty object with `ok` false.
class Channel {
public:
    Channel() = default;
    Channel(int readFd, int writeFd) : m_read(readFd), m_write(writeFd) {}

    bool send(const QJsonObject& message) const;
    QJsonObject receive(bool* ok = nullptr) const;
    void close();
    bool isOpen() const { return m_read >= 0; }
    int readFd() const { return m_read; }
    int writeFd() const { return m_write; }

private:
    int m_read = -1;
    int m_write = -1;
};

} // namespace simulate
