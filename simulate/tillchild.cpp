#include "tillchild.h"

#include "journal.h"
#include "journalowner.h"
#include "oxlenpay.h"
#include "paymentprocessingrequest.h"
#include "restclient.h"
#include "tilljournal.h"
#include "tilloutcome.h"
#include "waitclock.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <csignal>
#include <unistd.h>

// The front's test hook: the simulation hands it a client whose ids are seeded.
class OxlenPayTestAccess {
public:
    static void setInterface(oxlenpay::OxlenPay& front, QSharedPointer<oxlenpay::Interface> client)
    {
        front.interface = std::move(client);
    }
};

namespace simulate {

namespace {

using oxlenpay::WaitClock;

const WaitClock::TimePoint Start = WaitClock::TimePoint() + std::chrono::hours(1);

Channel link;
qint64 nowMs = 0;
qint64 jumpMs = 0;
oxlenpay::OxlenPay* front = nullptr;

qint64 wallMs()
{
    return WallStart.toMSecsSinceEpoch() + nowMs + jumpMs;
}

/// Log lines not sent yet: they ride on the next message, which the parent reads before
/// anything else of it, so the trace keeps their order without a wake-up each.
QJsonArray pendingLog;

/// Crash points the parent said it would let pass with nothing drawn to fire there, and
/// how many have passed since the last message: it draws for them when that message comes.
int quietPoints = 0;
int passedPoints = 0;
/// The same for waits that end before `quietUntilMs`, the world's next event.
int quietWaits = 0;
qint64 quietUntilMs = 0;
int passedWaits = 0;

void send(QJsonObject message)
{
    if (!pendingLog.isEmpty()) {
        message.insert("log", pendingLog);
        pendingLog = QJsonArray();
    }
    if (passedPoints > 0) {
        message.insert("passed", passedPoints);
        passedPoints = 0;
    }
    if (passedWaits > 0) {
        message.insert("passedWaits", passedWaits);
        message.insert("now", double(nowMs));
        passedWaits = 0;
    }
    link.send(message);
}

void noteQuiet(const QJsonObject& message)
{
    quietPoints = message.value("quiet").toInt();
    quietWaits = message.value("quietWaits").toInt();
    quietUntilMs = qint64(message.value("quietUntil").toDouble());
}

/// Sends `message` and waits for the parent's answer; a "crash" answer ends the process
/// here, as SIGKILL would: the parent kills it while it is stopped.
QJsonObject ask(const QJsonObject& message)
{
    send(message);
    bool ok = false;
    const QJsonObject reply = link.receive(&ok);
    if (!ok) {
        ::_exit(3); // the simulation is gone
    }
    noteQuiet(reply);
    if (reply.contains("failWrites")) {
        oxlenpay::Journal::failingWrites = reply.value("failWrites").toInt();
    }
    if (reply.contains("now")) {
        nowMs = qint64(reply.value("now").toDouble());
        jumpMs = qint64(reply.value("jump").toDouble());
    }
    if (reply.value("k").toString() == "crash") {
        ::raise(SIGSTOP);
        ::_exit(4); // never reached: the parent kills a stopped till
    }
    return reply;
}

class PipeRestClient : public RestClient {
public:
    void setTimeout(qint64 milliseconds) override { m_timeoutMs = milliseconds; }
    bool send(int, const QUrl& url, const QJsonDocument& document,
              const QHash<QString, QString>& headers) override
    {
        const QStringList signature = headers.value("Authorization").split(':');
        const QJsonObject reply =
            ask({{"k", "exchange"},
                 {"path", url.path()},
                 {"body", document.object()},
                 {"timeout", double(m_timeoutMs)},
                 {"auth", signature.size() == 3 ? signature[2].toDouble() : 0.0}});
        m_error = reply.value("error").toInt();
        m_uploaded = reply.value("uploaded").toBool();
        m_text = tr::Tr(reply.value("textKey").toString(), reply.value("text").toString());
        const QJsonValue answer = reply.value("answer");
        m_answer = answer.isObject()  ? QJsonDocument(answer.toObject())
                   : answer.isArray() ? QJsonDocument(answer.toArray())
                                      : QJsonDocument();
        return m_error == NoError;
    }
    int error() const override { return m_error; }
    bool isUploadedButAborted() const override { return m_uploaded; }
    tr::Tr errorText() const override { return m_text; }
    QJsonDocument jsonAnswer() const override { return m_answer; }

private:
    qint64 m_timeoutMs = 0;
    int m_error = NoError;
    bool m_uploaded = false;
    tr::Tr m_text;
    QJsonDocument m_answer;
};

/// The plug-in's client with the ids the simulation hands out, so a seed replays exactly.
class SeededClient : public oxlenpay::Interface {
public:
    void setReverseUnknown(int value) { reverseUnknown = value; }
    QString nextId;
    QString getUuid() const override { return nextId; }
};

void forwardLog(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    static const char* const levels[] = {"DEBUG", "WARN", "ERROR", "FATAL", "INFO"};
    pendingLog.append(
        QJsonArray{double(nowMs), QString("%1 %2: %3")
                                      .arg(levels[qBound(0, int(type), 4)],
                                           context.category ? context.category : "default", text)});
}

const char* toldName(till::ResultState state)
{
    switch (state) {
    case till::ResultState::Approved:
        return "approved";
    case till::ResultState::Unknown:
        return "unknown";
    default:
        return "declined";
    }
}

QJsonObject told(const till::Outcome& outcome)
{
    return {{"k", "done"},
            {"told", toldName(outcome.state)},
            {"paymentId", outcome.knownPaymentId()},
            {"key", outcome.answer.getMessage().key()},
            {"text", outcome.answer.getMessage().ru()}};
}

/// What the till prints for a money operation: the front's answer, then the till's own
/// reading of it.
QJsonObject money(const QString& operation, const PaymentProcessingRequest& request, bool cancel)
{
    const PaymentProcessingAnswer answer =
        cancel ? front->cancel(request) : front->payment(request);
    till::Outcome outcome = till::Outcome::ofAnswer(operation, answer);
    outcome.paymentId = request.rrn;
    till::settleFromPlugin(front, &outcome);
    QJsonObject done = told(outcome);
    done.insert("pluginApproved", answer.isSuccess());
    done.insert("settlement", front->lastOperation().value("settlement").toString());
    return done;
}

QJsonObject perform(const QJsonObject& command, SeededClient* client)
{
    const QString kind = command.value("k").toString();
    client->nextId = command.value("id").toString();
    PaymentProcessingRequest request;
    request.currencyCode = 398;
    request.sum = command.value("amount").toInt();
    request.rrn = command.value("rrn").toString();
    if (kind == "sale") {
        request.type = PaymentProcessingRequest::Sale;
        request.token = "token-" + client->nextId.left(8);
        return money("sale", request, false);
    }
    if (kind == "refund") {
        request.type = PaymentProcessingRequest::Refund;
        request.originalSum = command.value("original").toInt();
        return money("refund", request, false);
    }
    if (kind == "cancel") {
        request.type = PaymentProcessingRequest::Sale;
        request.originalSum = request.sum;
        return money("cancel", request, true);
    }
    if (kind == "fiscal") {
        const QMap<QString, QVariant> message{
            {"messagetype", "sendofddata"},
            {"payload", QVariantMap{{"rrn", request.rrn},
                                    {"fiscalData", QVariantMap{{"qr", command.value("url")}}}}}};
        const bool sent = front->sendEnqueuedMessage(message);
        return told(till::Outcome::ofFiscal(sent, request.rrn, QString()));
    }
    if (kind == "recover") {
        const QVariantMap report = front->recoverJournal();
        return {{"k", "done"},
                {"told", report.contains("error") ? "declined" : "approved"},
                {"error", report.value("error").toString()},
                {"entries", report.value("entries").toList().size()}};
    }
    return {{"k", "done"}, {"told", "declined"}, {"error", "unknown command " + kind}};
}

} // namespace

void runTill(Channel channel, int reverseUnknown, quint64 process)
{
    link = channel;
    oxlenpay::JournalOwner::newToken = [process] {
        static int handles = 0;
        return QString("%1-0000-4000-8000-%2")
            .arg(quint32(process >> 16), 8, 16, QChar('0'))
            .arg(quint64(process & 0xffff) << 16 | quint64(++handles), 12, 16, QChar('0'));
    };
    qInstallMessageHandler(&forwardLog);
    WaitClock::now = [] { return Start + std::chrono::milliseconds(nowMs); };
    WaitClock::wallMs = &wallMs;
    WaitClock::waitUntil = [](std::unique_lock<std::mutex>& lock, std::condition_variable&,
                              WaitClock::TimePoint deadline) {
        const qint64 until =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Start).count();
        if (quietWaits > 0 && until < quietUntilMs) {
            --quietWaits;
            ++passedWaits;
            nowMs = qMax(nowMs, until);
            return;
        }
        const QJsonObject reply = ask({{"k", "wait"}, {"until", double(until)}});
        if (reply.value("interrupt").toBool() && front) {
            lock.unlock(); // the host's interrupt takes the gate's lock itself
            front->interruptPayment();
            lock.lock();
        }
    };
    oxlenpay::Journal::wallClock = [] { return QDateTime::fromMSecsSinceEpoch(wallMs(), Qt::UTC); };
    oxlenpay::Journal::crashPoint = [](const char* where) {
        if (quietPoints > 0) {
            --quietPoints;
            ++passedPoints;
            return;
        }
        ask({{"k", "point"}, {"at", where}});
    };
    MockFactory<RestClient>::creator = [] {
        return QSharedPointer<RestClient>(new PipeRestClient);
    };

    auto* client = new SeededClient;
    client->init();
    client->setReverseUnknown(reverseUnknown);
    front = new oxlenpay::OxlenPay(utils::ForMock{});
    OxlenPayTestAccess::setInterface(*front, QSharedPointer<oxlenpay::Interface>(client));
    for (;;) {
        bool ok = false;
        const QJsonObject command = link.receive(&ok);
        noteQuiet(command); // "quit" lets every point of the exit pass
        if (!ok || command.value("k").toString() == "quit") {
            break;
        }
        nowMs = qint64(command.value("now").toDouble());
        jumpMs = qint64(command.value("jump").toDouble());
        oxlenpay::Journal::failingWrites = 0; // a failing disk lasts one operation at most
        send(perform(command, client));
    }
    delete front; // closes the journal and gives up this till's owner lock
    front = nullptr;
    if (!pendingLog.isEmpty()) {
        send({{"k", "log"}});
    }
    ::_exit(0);
}

} // namespace simulate
