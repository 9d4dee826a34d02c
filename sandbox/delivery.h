#pragma once

#include <QByteArray>
#include <QString>

namespace sandbox {

/// The reply to one request and how it goes back on the wire.
struct Delivery {
    enum class Mode {
        Normal,
        Lost,    // the request was read whole; the connection closes without an answer
        Slow,    // the answer leaves after `delayMs`
        Trickle, // the answer leaves a byte at a time, `delayMs` apart
        Reset,   // the request was read whole; the connection is reset (RST)
    };
    int status = 200;
    QByteArray body;
    QByteArray contentType = "application/json";
    Mode mode = Mode::Normal;
    int delayMs = 0;
    /// When set, these bytes go out instead of a composed answer, and the connection closes.
    QByteArray raw;
    /// A page that no other site may show in a frame.
    bool noFraming = false;
    // For the request log: the payment the request was about and the answer's error code.
    QString paymentId;
    int errorCode = 0;
};

} // namespace sandbox
