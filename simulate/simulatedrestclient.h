#pragma once

#include "restclient.h"

#include <functional>

namespace simulate {

/// What the simulation decides for one exchange.
struct Exchange {
    int error = RestClient::NoError;
    bool uploadedButAborted = false;
    tr::Tr errorText;
    QJsonDocument answer;
};

/// The host's REST client in the simulation: every exchange is handed to the simulation,
/// which may answer it, lose it, let time pass, or crash the process in the middle.
class SimulatedRestClient : public RestClient {
public:
    using Handler =
        std::function<Exchange(const QUrl& url, const QJsonObject& body, qint64 timeoutMs)>;

    explicit SimulatedRestClient(Handler handler) : m_handler(std::move(handler)) {}

    void setTimeout(qint64 milliseconds) override { m_timeoutMs = milliseconds; }
    bool send(int operation, const QUrl& url, const QJsonDocument& document,
              const QHash<QString, QString>& headers) override;
    int error() const override { return m_exchange.error; }
    bool isUploadedButAborted() const override { return m_exchange.uploadedButAborted; }
    tr::Tr errorText() const override { return m_exchange.errorText; }
    QJsonDocument jsonAnswer() const override { return m_exchange.answer; }

private:
    Handler m_handler;
    qint64 m_timeoutMs = 30000;
    Exchange m_exchange;
};

} // namespace simulate
