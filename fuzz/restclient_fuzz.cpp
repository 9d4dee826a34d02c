// The REST client against whatever a server may send. An input is up to three
// answers separated by a line "--next--"; each is the whole reply to one status
// poll of one thread, over one kept-alive connection while the server keeps it.
// Invariants: no crash; a success has a real HTTP status; a failure names its
// kind with a "restClient..." message key.
#include "rawhttpserver.h"
#include "restclient.h"

#include <QJsonObject>
#include <QLoggingCategory>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static RawHttpServer* server = [] {
        QLoggingCategory::setFilterRules("strova.*=false");
        return new RawHttpServer; // lives for the whole run
    }();
    const QByteArray input(reinterpret_cast<const char*>(data), int(size));
    QList<QByteArray> answers = input.split('\n');
    QList<RawHttpServer::Reply> replies;
    QByteArray current;
    for (const QByteArray& line : answers) {
        if (line == "--next--" && replies.size() < 2) {
            replies.append({current});
            current.clear();
        } else {
            current += line + '\n';
        }
    }
    current.chop(1); // the split added a newline the input did not have
    replies.append({current, RawHttpServer::Reply::Then::Close});
    server->script(replies);

    for (int i = 0; i < replies.size(); ++i) {
        RestClient client;
        client.setTimeout(150);
        client.send(2, QUrl(server->url("/payment/status")),
                    QJsonDocument(QJsonObject{{"payment_id", "1"}}), {});
        if (client.error() == RestClient::NoError) {
            if (client.httpStatus() < 100 || client.httpStatus() > 599) {
                std::abort(); // a success without an HTTP status
            }
        } else if (!client.errorText().key().startsWith("restClient")) {
            std::abort(); // a failure without its message
        }
    }
    return 0;
}
