#pragma once

#include "interface.h"

#include <QString>

namespace oxlenpay {

/// One provider exchange as the client reads it: parsed once, so that no other code
/// compares the provider's status texts.
struct ProviderReply {
    /// The payment statuses the client knows; `Other` keeps the text of any other.
    enum class Status { None, Pending, Success, Failed, Reversed, PartialCancelled, Other };
    /// How far the exchange got.
    enum class Transport {
        Answered,          ///< a readable JSON object came back
        Unreadable,        ///< the request arrived and nothing readable came back
        LostBeforeSending, ///< never reached the provider (or no address to send it to)
        LostAfterUpload,   ///< sent whole; the answer was lost on the way back
    };

    Transport transport = Transport::Answered;
    Status status = Status::None;
    QString statusText; ///< as the provider wrote it
    QString paymentId;
    int errorCode = 0;
    QString text; ///< the provider's "error_message"

    bool answered() const { return transport == Transport::Answered; }
    /// Answered with a non-zero error code: the provider refused the request.
    bool refused() const { return answered() && errorCode != 0; }

    static Status statusOf(const QString& text);
    static const char* statusName(Status status);
    /// Reads a result of sendRequest (or of a host's test double of it): its fields and
    /// its message decide how far the exchange got.
    static ProviderReply of(const Interface::RequestResult& result);
};

} // namespace oxlenpay
