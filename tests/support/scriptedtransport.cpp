#include "scriptedtransport.h"

#include "waitclock.h"

namespace testsupport {

using ::testing::_;
using ::testing::NiceMock;
using ::testing::Return;

ScriptedReply ScriptedReply::json(const QJsonObject& object)
{
    return document(QJsonDocument(object));
}

ScriptedReply ScriptedReply::document(const QJsonDocument& document)
{
    ScriptedReply reply;
    reply.answer = document;
    return reply;
}

ScriptedReply ScriptedReply::lost()
{
    ScriptedReply reply;
    reply.error = RestClient::ConnectionLost;
    reply.uploadedButAborted = true;
    reply.errorText = tr::Tr("restClientConnectionLost", "Соединение с сервером прервано");
    return reply;
}

ScriptedReply ScriptedReply::failure(const tr::Tr& text)
{
    ScriptedReply reply;
    reply.error = RestClient::ConnectFailed;
    reply.errorText = text;
    return reply;
}

ScriptedTransport::ScriptedTransport() : m_previous(MockFactory<RestClient>::creator)
{
    MockFactory<RestClient>::creator = [this] { return create(); };
}

ScriptedTransport::~ScriptedTransport()
{
    MockFactory<RestClient>::creator = m_previous;
}

void ScriptedTransport::script(const QList<ScriptedReply>& replies)
{
    m_replies = replies;
}

void ScriptedTransport::respond(std::function<ScriptedReply(const SentRequest&)> responder)
{
    m_responder = std::move(responder);
}

int ScriptedTransport::count(int operation) const
{
    int n = 0;
    for (const SentRequest& request : m_sent) {
        n += request.operation == operation ? 1 : 0;
    }
    return n;
}

QSharedPointer<RestClient> ScriptedTransport::create()
{
    auto client = QSharedPointer<NiceMock<MockRestClient>>::create();
    auto timeout = std::make_shared<qint64>(-1);
    auto reply = std::make_shared<ScriptedReply>();
    ON_CALL(*client, setTimeout(_)).WillByDefault([timeout](qint64 ms) { *timeout = ms; });
    ON_CALL(*client, send(_, _, _, _))
        .WillByDefault([this, timeout, reply](int operation, const QUrl& url,
                                              const QJsonDocument& document,
                                              const QHash<QString, QString>& headers) {
            SentRequest sent{*timeout,          operation, url,
                             document.object(), headers,   oxlenpay::WaitClock::now()};
            m_sent.append(sent);
            if (m_responder) {
                *reply = m_responder(sent);
            } else if (!m_replies.isEmpty()) {
                *reply = m_replies.size() > 1 ? m_replies.takeFirst() : m_replies.first();
            }
            return reply->error == 0;
        });
    ON_CALL(*client, error()).WillByDefault([reply] { return reply->error; });
    ON_CALL(*client, isUploadedButAborted()).WillByDefault([reply] {
        return reply->uploadedButAborted;
    });
    ON_CALL(*client, errorText()).WillByDefault([reply] { return reply->errorText; });
    ON_CALL(*client, jsonAnswer()).WillByDefault([reply] { return reply->answer; });
    return client;
}

} // namespace testsupport
