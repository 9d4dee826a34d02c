#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

namespace testsupport {

struct CapturedLine {
    QtMsgType type;
    QString category;
    QString text;
};

/// Captures every line that goes through Qt's message system while it lives.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    QList<CapturedLine> lines() const;
    /// Lines of one category, as "LEVEL text" with LEVEL one of INFO, WARN, ERROR, DEBUG.
    QStringList of(const QString& category) const;
    void clear();
};

} // namespace testsupport
