#pragma once

#include "restclient.h"

#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QUrl>

#include <gmock/gmock.h>

#include <chrono>
#include <functional>

namespace testsupport {

class MockRestClient : public RestClient {
public:
    MOCK_METHOD(void, setTimeout, (qint64), (override));
    MOCK_METHOD(bool, send,
                (int, const QUrl&, const QJsonDocument&, (const QHash<QString, QString>&)),
                (override));
    MOCK_METHOD(int, error, (), (const, override));
    MOCK_METHOD(bool, isUploadedButAborted, (), (const, override));
    MOCK_METHOD(tr::Tr, errorText, (), (const, override));
    MOCK_METHOD(QJsonDocument, jsonAnswer, (), (const, override));
};

/// What one scripted exchange answers.
struct ScriptedReply {
    int error = 0;
    bool uploadedButAborted = false;
    tr::Tr errorText;
    QJsonDocument answer;

    static ScriptedReply json(const QJsonObject& object);
    static ScriptedReply document(const QJsonDocument& document);
    static ScriptedReply lost();
    static ScriptedReply failure(const tr::Tr& text);
};

/// What the client sent in one exchange.
struct SentRequest {
    qint64 timeout = -1;
    int operation = 0;
    QUrl url;
    QJsonObject body;
    QHash<QString, QString> headers;
    std::chrono::steady_clock::time_point at;
};

/// Installs itself as MockFactory<RestClient>::creator: every new client answers
/// the next scripted reply (the last one repeats) and records what was sent.
class ScriptedTransport {
public:
    ScriptedTransport();
    ~ScriptedTransport();

    void script(const QList<ScriptedReply>& replies);
    /// Answers computed per request, for scripts that depend on what was sent.
    void respond(std::function<ScriptedReply(const SentRequest&)> responder);
    const QList<SentRequest>& sent() const { return m_sent; }
    int count(int operation) const;

private:
    QSharedPointer<RestClient> create();

    QList<ScriptedReply> m_replies;
    std::function<ScriptedReply(const SentRequest&)> m_responder;
    QList<SentRequest> m_sent;
    std::function<QSharedPointer<RestClient>()> m_previous;
};

} // namespace testsupport
