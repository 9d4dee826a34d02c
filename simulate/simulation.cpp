#include "simulation.h"

#include "journal.h"
#include "processidentity.h"
#include "restclient.h"
#include "settings.h"
#include "tillchild.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

#include <csignal>
#include <fcntl.h>
#include <limits>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

namespace simulate {

namespace {

using oxlenpay::JournalEntry;
using State = JournalEntry::State;

constexpr int TimeoutMs = 3000;
constexpr qint64 HourMs = 3600 * 1000;
constexpr int FinalRecoveries = 10;

/// Every descriptor the parent keeps towards its tills: a new till closes them all, so
/// that a dead till's pipes read as closed.
QSet<int>& parentDescriptors()
{
    static QSet<int> descriptors;
    return descriptors;
}

/// "#12" for the twelfth id a schedule handed out.
QString shortId(const QString& id)
{
    return "#" + QString::number(id.right(12).toLongLong(nullptr, 16));
}

} // namespace

Simulation::Simulation(quint32 seed, const QString& root, const Options& options)
    : m_seed(seed), m_root(root), m_journal(journalPathIn(root)), m_options(options), m_plan(seed),
      m_schedule(seed * 747796405u + 2891336453u)
{
    if (options.restricted) {
        m_plan.restrictTo(options.onlyFaults);
    }
    m_till.name = "till";
    m_other.name = "other";
    QDir(root + "/journal").removeRecursively();
    QDir(root + "/journal.old").removeRecursively();
    QDir().mkpath(root + "/journal");
    m_reverseUnknown = m_schedule.bounded(4u) == 0 ? 0 : 1;
}

Simulation::~Simulation()
{
    stopOlderWriter();
    releaseWriteLock();
    m_reader.close();
    for (TillProcess* till : {&m_till, &m_other}) {
        if (till->pid > 0) {
            ::kill(till->pid, SIGKILL);
            ::waitpid(till->pid, nullptr, 0);
            closeChannel(till);
        }
    }
}

void Simulation::trace(const QString& actor, const QString& event, const QJsonObject& details,
                       qint64 atMs)
{
    ++m_step;
    const qint64 at = atMs >= 0 ? atMs : m_nowMs;
    if (m_options.trace) {
        QString text = event;
        text.replace(m_root, "$ROOT");
        m_traceText += QString("%1 ms  %2 %3\n").arg(at, 10).arg(actor.leftJustified(6, ' '), text);
    }
    if (m_options.traceJson) {
        QJsonObject line{{"seed", double(m_seed)},
                         {"step", m_step},
                         {"t_ms", double(at)},
                         {"actor", actor},
                         {"event", QString(event).replace(m_root, "$ROOT")}};
        for (const char* key : {"path", "paymentId", "fault", "before", "after"}) {
            line.insert(key, details.value(key));
        }
        m_traceJson += QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n';
    }
}

void Simulation::violate(const QString& kind, const QString& what)
{
    for (const Violation& known : m_violations) {
        if (known.kind == kind && known.what == what) {
            return;
        }
    }
    trace("check", QString("VIOLATION %1: %2").arg(kind, what));
    m_violations.append({kind, what});
}

QString Simulation::nextId()
{
    // UUID-shaped and seeded: a seed replays with the same transaction ids.
    ++m_ids;
    return QString("%1-0000-4000-8000-%2")
        .arg(m_seed, 8, 16, QChar('0'))
        .arg(m_ids, 12, 16, QChar('0'));
}

// --- tills -----------------------------------------------------------------------------------

void Simulation::spawn(TillProcess* till)
{
    releaseWriteLock(); // no SQLite handle of the parent may cross a fork
    m_reader.close();
    int down[2];
    int up[2];
    if (::pipe2(down, O_CLOEXEC) != 0 || ::pipe2(up, O_CLOEXEC) != 0) {
        qFatal("oxlenpay-simulate: cannot make a pipe");
    }
    std::fflush(stdout);
    std::fflush(stderr);
    const quint64 process = quint64(m_seed) << 16 | quint64(++m_spawned & 0xffff);
    const pid_t pid = ::fork();
    if (pid < 0) {
        qFatal("oxlenpay-simulate: cannot fork a till");
    }
    if (pid == 0) {
        for (int fd : parentDescriptors()) {
            ::close(fd);
        }
        ::close(down[1]);
        ::close(up[0]);
        runTill(Channel(down[0], up[1]), m_reverseUnknown, process);
    }
    ::close(down[0]);
    ::close(up[1]);
    parentDescriptors() << down[1] << up[0];
    till->pid = pid;
    till->channel = Channel(up[0], down[1]);
    trace(till->name, "starts");
}

void Simulation::closeChannel(TillProcess* till)
{
    parentDescriptors().remove(till->channel.readFd());
    parentDescriptors().remove(till->channel.writeFd());
    till->channel.close();
    till->pid = -1;
}

void Simulation::quit(TillProcess* till)
{
    if (till->pid <= 0) {
        return;
    }
    // A clean exit draws no fault at its points: they all pass.
    QJsonObject quit = stamped({{"k", "quit"}});
    quit.insert("quiet", std::numeric_limits<int>::max());
    till->channel.send(quit);
    bool ok = true;
    while (ok) {
        const QJsonObject message = till->channel.receive(&ok);
        traceLog(*till, message);
        if (ok && message.value("k").toString() == "point") {
            till->channel.send(stamped({{"k", "go"}})); // a clean exit's last writes
        } else if (ok && message.value("k").toString() == "wait") {
            advanceTo(qMax(m_nowMs, qint64(message.value("until").toDouble())));
            till->channel.send(stamped({{"k", "go"}})); // waiting for a held lock
        }
    }
    ::waitpid(till->pid, nullptr, 0);
    closeChannel(till);
    trace(till->name, "exits");
}

void Simulation::crash(TillProcess* till, const QString& where)
{
    // The till stops itself where it stands; SIGKILL then ends it there, with no
    // destructor, no unlock and no flush run.
    till->channel.send(stamped({{"k", "crash"}}));
    int status = 0;
    ::waitpid(till->pid, &status, WUNTRACED);
    ::kill(till->pid, SIGKILL);
    if (WIFSTOPPED(status)) {
        ::waitpid(till->pid, &status, 0);
    }
    closeChannel(till);
    trace(till->name, "killed (SIGKILL) " + where, {{"fault", "crash"}});
}

void Simulation::traceLog(const TillProcess& till, const QJsonObject& message)
{
    for (const QJsonValue& entry : message.value("log").toArray()) {
        const QJsonArray line = entry.toArray(); // [virtual ms, text]
        trace(till.name, line.at(1).toString(), {}, qint64(line.at(0).toDouble()));
    }
}

QJsonObject Simulation::stamped(QJsonObject message) const
{
    message.insert("now", double(m_nowMs));
    message.insert("jump", double(m_jumpMs));
    return message;
}

QJsonObject Simulation::command(TillProcess* till, QJsonObject request)
{
    if (till->pid <= 0) {
        spawn(till);
    }
    if (till == &m_till) {
        m_settledByOther.clear();
    }
    till->operation = request.value("k").toString();
    till->operationId = request.value("id").toString();
    till->paymentId = request.value("rrn").toString();
    till->ownRequestSent = false;
    till->channel.send(toTill(*till, request));
    for (;;) {
        bool ok = false;
        const QJsonObject message = till->channel.receive(&ok);
        if (!ok) {
            violate("till-died",
                    QString("%1 died on its own during %2").arg(till->name, till->operation));
            ::waitpid(till->pid, nullptr, 0);
            closeChannel(till);
            return {{"k", "crashed"}};
        }
        traceLog(*till, message);
        drawForPassedPoints(till, message);
        drawForPassedWaits(till, message);
        const QString kind = message.value("k").toString();
        bool crashed = false;
        QJsonObject reply;
        if (kind == "log") {
            continue;
        }
        if (kind == "done") {
            till->operation.clear();
            return message;
        }
        if (kind == "exchange") {
            reply = exchange(till, message, &crashed);
        } else if (kind == "point") {
            reply = atPoint(till, message.value("at").toString(), &crashed);
        } else if (kind == "wait") {
            reply = atWait(till, qint64(message.value("until").toDouble()));
        }
        if (crashed) {
            till->operation.clear();
            return {{"k", "crashed"}};
        }
        till->channel.send(toTill(*till, reply));
    }
}

namespace AtPoint {
// How often each fault is drawn at a journal crash point, a fraction of its rate.
constexpr double Crash = 1.0 / 16;
constexpr double OtherTill = 1.0 / 16;
constexpr double DiskError = 1.0 / 8;
constexpr double HeldLock = 1.0 / 16;
constexpr double FolderVanishes = 1.0 / 32;
} // namespace AtPoint

// How often the host interrupts a money operation's wait, a fraction of the rate.
constexpr double InterruptAtWait = 1.0 / 4;

bool Simulation::isMoney(const TillProcess& till)
{
    return till.operation == "sale" || till.operation == "refund" || till.operation == "cancel" ||
           till.operation == "fiscal";
}

QJsonObject Simulation::toTill(const TillProcess& till, QJsonObject message) const
{
    // Waits may pass too, up to the world's next event in virtual time, while no interrupt
    // would be drawn to fire.
    qint64 until = m_provider.nextCustomerMs();
    if (m_lock) {
        until = qMin(until, m_lockUntilMs);
    }
    if (m_older.running) {
        until = qMin(until, m_older.exitAtMs);
    }
    message.insert("quietWaits",
                   isMoney(till) ? m_plan.quietRepeats({{Fault::Interrupt, InterruptAtWait}}, 1000)
                                 : 1000);
    message.insert("quietUntil", double(until));
    // The draws atPoint makes for this till, in its order.
    QVector<FaultPlan::Draw> draws{{Fault::Crash, AtPoint::Crash}};
    if (&till == &m_till) {
        draws.append({Fault::OtherTill, AtPoint::OtherTill});
    }
    draws.append({{Fault::DiskError, AtPoint::DiskError},
                  {Fault::HeldLock, AtPoint::HeldLock},
                  {Fault::FolderVanishes, AtPoint::FolderVanishes}});
    message.insert("quiet", m_plan.quietRepeats(draws, 1000));
    return stamped(message);
}

void Simulation::drawForPassedWaits(TillProcess* till, const QJsonObject& message)
{
    const int passed = message.value("passedWaits").toInt();
    if (passed == 0) {
        return;
    }
    const int fired = m_plan.fired().size();
    for (int i = 0; i < passed && isMoney(*till); ++i) {
        m_plan.draw(Fault::Interrupt, "a wait passed", InterruptAtWait);
    }
    if (m_plan.fired().size() != fired) {
        qFatal("oxlenpay-simulate: an interrupt fired in a wait its till was told would pass");
    }
    advanceTo(qint64(message.value("now").toDouble()));
}

void Simulation::drawForPassedPoints(TillProcess* till, const QJsonObject& message)
{
    const int passed = message.value("passed").toInt();
    const int fired = m_plan.fired().size();
    for (int i = 0; i < passed; ++i) {
        bool crashed = false;
        atPoint(till, "a point passed", &crashed);
    }
    if (m_plan.fired().size() != fired) {
        qFatal("oxlenpay-simulate: a fault fired at a point its till was told would pass");
    }
}

QJsonObject Simulation::atPoint(TillProcess* till, const QString& where, bool* crashed)
{
    if (m_plan.draw(Fault::Crash, where, AtPoint::Crash).fires && !vanishPending()) {
        crash(till, "at " + where);
        *crashed = true;
        return {};
    }
    // Between two journal statements too: between a recovery's look at the rows and its claim.
    // Not inside this till's transaction: the other would only sit out its write lock, and
    // run the virtual clock on while this till, paused here, cannot finish.
    if (till == &m_till && m_plan.draw(Fault::OtherTill, where, AtPoint::OtherTill).fires &&
        !where.startsWith("in a transaction")) {
        m_otherAtPoint = true; // the point may be the write that gives the row up
        otherTillRecovers();
        m_otherAtPoint = false;
    }
    QJsonObject reply{{"k", "go"}};
    const FaultPlan::Decision disk = m_plan.draw(Fault::DiskError, where, AtPoint::DiskError);
    if (disk.fires) {
        const int writes = 1 + int(disk.extra % 4);
        reply.insert("failWrites", writes);
        trace(till->name, QString("the disk fails the next %1 journal writes").arg(writes),
              {{"fault", "disk-error"}});
    }
    const FaultPlan::Decision lock = m_plan.draw(Fault::HeldLock, where, AtPoint::HeldLock);
    if (lock.fires && !m_lock) {
        holdWriteLock(1000 + qint64(lock.extra % 40000));
    }
    const FaultPlan::Decision vanish =
        m_plan.draw(Fault::FolderVanishes, where, AtPoint::FolderVanishes);
    if (vanish.fires) {
        vanishFolder(vanish.extra % 2 == 0);
    }
    return reply;
}

void Simulation::otherTillRecovers()
{
    if (m_otherBusy) {
        return;
    }
    m_otherBusy = true;
    recover(&m_other, "other");
    m_otherBusy = false;
    // The payments all of whose rows it settled: the first till's recovery, which claims a
    // row only as it last saw it, has nothing left to ask about them in this command.
    QVector<JournalEntry> rows;
    if (!readRows(&rows)) {
        return;
    }
    QSet<QString> open;
    QSet<QString> settled;
    for (const JournalEntry& row : rows) {
        (row.isSettled() ? settled : open).insert(row.paymentId);
        const auto seen = m_seen.constFind(row.id);
        if (row.isSettled() && seen != m_seen.constEnd() && !seen->isSettled() &&
            !row.paymentId.isEmpty()) {
            m_settledByOther.insert(row.paymentId);
        }
    }
    m_settledByOther.subtract(open);
}

QJsonObject Simulation::atWait(TillProcess* till, qint64 untilMs)
{
    advanceTo(qMax(m_nowMs, untilMs));
    const bool interrupt =
        isMoney(*till) &&
        m_plan.draw(Fault::Interrupt, "wait of " + till->operation, InterruptAtWait).fires;
    if (interrupt) {
        trace("host", "interrupts the wait (interruptPayment)", {{"fault", "interrupt"}});
    }
    return {{"k", "go"}, {"interrupt", interrupt}};
}

QJsonObject Simulation::exchange(TillProcess* till, const QJsonObject& message, bool* crashed)
{
    const QString path = message.value("path").toString();
    const QJsonObject body = message.value("body").toObject();
    const qint64 timeoutMs = qint64(message.value("timeout").toDouble());
    const QString asked = body.value("payment_id").toString();
    if (till->operation == "sale" && !till->ownRequestSent) {
        if (!path.endsWith("/payment")) {
            violate("sale-before-own-request",
                    "a sale waited for another exchange before its own request: " + path);
        }
        till->ownRequestSent = true;
    }
    // Another till on the same journal runs its recovery between two exchanges of this one.
    if (till == &m_till && m_plan.draw(Fault::OtherTill, path, 1.0 / 4).fires) {
        otherTillRecovers();
    }
    if (m_plan.draw(Fault::Crash, "before " + path, 1.0 / 8).fires && !vanishPending()) {
        crash(till, "before " + path);
        *crashed = true;
        return {};
    }
    // Every kind is drawn at every exchange, fired or not, so that the streams stay aligned.
    static const Fault kinds[] = {Fault::ConnectFailed,   Fault::Refused,     Fault::Declined,
                                  Fault::LostAfterUpload, Fault::Slow,        Fault::Gateway,
                                  Fault::Garbled,         Fault::EmptyAnswer, Fault::NoPaymentId,
                                  Fault::OtherPayment,    Fault::StatusLag};
    Fault fault = Fault::Count;
    quint32 extra = 0;
    for (Fault kind : kinds) {
        const FaultPlan::Decision decision = m_plan.draw(kind, path, 1.0 / 4);
        // A sale's first answer brings the payment's id: nothing to tell another one by.
        const bool applies = kind != Fault::OtherPayment || !path.endsWith("/payment");
        if (decision.fires && applies && fault == Fault::Count) {
            fault = kind;
            extra = decision.extra;
        }
    }
    QJsonObject reply{{"k", "answer"}, {"error", 0}, {"uploaded", false}};
    const QString faultText = fault == Fault::Count ? QString() : faultName(fault);
    if (fault == Fault::ConnectFailed) {
        reply.insert("error", RestClient::ConnectFailed);
        reply.insert("textKey", "restClientConnectFailed");
        reply.insert("text", "Нет связи с сервером");
        trace(till->name, path + " " + asked + ": never sent",
              {{"path", path}, {"paymentId", asked}, {"fault", faultText}});
        return reply;
    }
    if (fault == Fault::Refused) {
        reply.insert("answer", QJsonObject{{"error_code", 2001 + int(extra % 3)},
                                           {"error_message", "Сервис временно недоступен"}});
        trace(till->name, path + " " + asked + ": refused",
              {{"path", path}, {"paymentId", asked}, {"fault", faultText}});
        return reply;
    }

    // Whose request this is: a reversal of another payment than the operation's own is
    // the work of recovery, in the operation's idle time.
    ModelProvider::Request request;
    request.path = path;
    request.body = body;
    request.nowMs = m_nowMs;
    request.wallMs = WallStart.toMSecsSinceEpoch() + m_nowMs;
    request.authorizationMs = qint64(message.value("auth").toDouble());
    request.decline = fault == Fault::Declined;
    request.lagPolls = fault == Fault::StatusLag ? 1 + int(extra % 3) : 0;
    const bool own = (till->operation == "sale" || till->operation == "cancel" ||
                      till->operation == "refund" || till->operation == "fiscal") &&
                     (asked.isEmpty() || asked == till->paymentId);
    request.operationId = own ? till->operationId : "recovery";
    if (till == &m_till && !own && m_settledByOther.contains(asked)) {
        violate(m_vanishedEver ? "vanished-journal-stale-copy" : "settled-row-worked-again",
                QString("the till's recovery asks about payment %1, whose rows another till's "
                        "recovery settled while this one ran")
                    .arg(asked));
    }
    const TillProcess& peer = till == &m_till ? m_other : m_till;
    if (path.endsWith("/payment/reversal") && !own && !m_otherAtPoint &&
        !peer.operation.isEmpty() && peer.operation != "recover" && asked == peer.paymentId) {
        violate(asked == m_older.paymentId ? "older-till-sale-reversed"
                : m_vanishedEver           ? "vanished-journal-live-sale-reversed"
                                           : "live-operation-reversed",
                QString("recovery in %1 reversed payment %2 while the %3 of %4 works on it")
                    .arg(till->name, asked, peer.operation, peer.name));
    }
    if (path.endsWith("/payment/reversal") && m_older.running && asked == m_older.paymentId) {
        violate("older-till-sale-reversed",
                "recovery reversed a sale that a running till of the previous version waits "
                "on: " +
                    asked);
    }
    // Now and then the answer that comes is another request's entirely, and this one never
    // reached the provider's books.
    const bool misrouted = fault == Fault::OtherPayment && extra % 4 == 1;
    const ModelProvider::Reply answered =
        misrouted ? ModelProvider::Reply{QJsonObject{{"error_code", 0}}, false}
                  : m_provider.handle(request);
    if (path.endsWith("/payment") && answered.carriedOut && till->operation == "sale") {
        till->paymentId = answered.answer.value("payment_id").toString();
    }
    QJsonObject answer = answered.answer;
    trace(till->name,
          QString("%1 %2 -> %3 %4%5")
              .arg(path, asked, answer.value("payment_id").toString(),
                   answer.value("payment_status").toString(),
                   answer.value("error_code").toInt() != 0
                       ? QString(" error %1").arg(answer.value("error_code").toInt())
                       : QString())
              .append(faultText.isEmpty() ? QString() : " (" + faultText + ")"),
          {{"path", path},
           {"paymentId", answer.value("payment_id").toString()},
           {"fault", faultText},
           {"after", answer.value("payment_status").toString()}});
    switch (fault) {
    case Fault::LostAfterUpload:
        reply.insert("error", RestClient::ConnectionLost);
        reply.insert("uploaded", true);
        reply.insert("textKey", "restClientConnectionLost");
        reply.insert("text", "Соединение прервано");
        break;
    case Fault::Slow:
        advanceTo(m_nowMs + timeoutMs);
        reply.insert("error", RestClient::Timeout);
        reply.insert("uploaded", true);
        reply.insert("textKey", "restClientTimeout");
        reply.insert("text", "Превышено время ожидания");
        break;
    case Fault::Gateway:
        reply.insert("error", RestClient::HttpStatus);
        reply.insert("uploaded", true);
        reply.insert("textKey", "restClientHttpStatus");
        reply.insert("text", "Сервер ответил ошибкой HTTP 502");
        break;
    case Fault::Garbled:
        reply.insert("answer", QJsonArray{answer});
        break;
    case Fault::EmptyAnswer:
        reply.insert("answer", QJsonObject());
        break;
    case Fault::NoPaymentId:
        // Without its id; a request carried out may also be answered with a bare SUCCESS.
        answer.remove("payment_id");
        if (extra % 2 == 0 && answered.carriedOut && !path.endsWith("/status") &&
            !path.endsWith("/payment")) {
            answer.insert("payment_status", "SUCCESS");
        }
        reply.insert("answer", answer);
        break;
    case Fault::OtherPayment: {
        const auto& payments = m_provider.payments();
        const QString other = payments.size() > 1
                                  ? payments[int(extra % quint32(payments.size()))].id
                                  : QString("100000009999");
        answer.insert("payment_id", other == asked ? QString("100000009999") : other);
        answer.insert("payment_status", extra % 3 == 0 ? "REVERSED" : "SUCCESS");
        reply.insert("answer", answer);
        break;
    }
    default:
        reply.insert("answer", answer);
        break;
    }
    if (m_plan.draw(Fault::Crash, "after " + path, 1.0 / 8).fires && !vanishPending()) {
        crash(till, "after " + path + " was carried out");
        *crashed = true;
        return {};
    }
    return reply;
}

// --- the world around the tills ------------------------------------------------------------

void Simulation::advanceTo(qint64 nowMs)
{
    m_nowMs = qMax(m_nowMs, nowMs);
    m_provider.advance(m_nowMs);
    if (m_lock && m_nowMs >= m_lockUntilMs) {
        releaseWriteLock();
    }
    if (m_older.running && m_nowMs >= m_older.exitAtMs) {
        endOlderWriter();
    }
}

void Simulation::holdWriteLock(qint64 forMs)
{
    if (!QFile::exists(m_journal) ||
        sqlite3_open_v2(m_journal.toUtf8().constData(), &m_lock, SQLITE_OPEN_READWRITE, nullptr) !=
            SQLITE_OK ||
        sqlite3_exec(m_lock, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
        releaseWriteLock(); // the till is inside a write of its own: no lock to take now
        return;
    }
    m_lockUntilMs = m_nowMs + forMs;
    trace("other", QString("another process holds the journal's write lock for %1 ms").arg(forMs),
          {{"fault", "held-lock"}});
}

void Simulation::releaseWriteLock()
{
    if (m_lock) {
        sqlite3_exec(m_lock, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close_v2(m_lock);
        m_lock = nullptr;
    }
}

void Simulation::vanishFolder(bool replace)
{
    releaseWriteLock();
    QVector<JournalEntry> rows;
    readRows(&rows);
    for (const JournalEntry& row : rows) {
        if (!row.isSettled()) {
            m_vanishKeep.insert(row.id);
        }
    }
    m_reader.close(); // it would go on reading the file that left
    m_vanishPending = true;
    const QString folder = m_root + "/journal";
    if (replace) {
        QDir(m_root + "/journal.old").removeRecursively();
        QDir().rename(folder, m_root + "/journal.old");
        QDir().mkpath(folder);
    } else {
        QDir(folder).removeRecursively();
    }
    m_vanished = true;
    m_vanishedEver = true;
    trace("admin",
          replace ? "the journal's folder is replaced by an empty one"
                  : "the journal's folder is deleted",
          {{"fault", "folder-vanishes"}});
}

void Simulation::startOlderWriter()
{
    // A till of the previous version, still running: its journal is version 1, and its
    // sale waits for the customer, with no owner handle but its own live process.
    ModelProvider::Customer customer;
    customer.does = ModelProvider::Customer::Does::Confirm;
    customer.atMs = 1000 + qint64(m_schedule.bounded(120000u));
    m_older.rowId = nextId();
    m_older.amount = 100 + m_schedule.bounded(5000u);
    m_older.paymentId = m_provider.addPending(m_older.rowId, m_older.amount, customer);
    m_older.exitAtMs = 60000 + qint64(m_schedule.bounded(600000u));
    // The older till is a process of its own, which does nothing but live until it ends.
    releaseWriteLock();
    m_reader.close();
    const pid_t older = ::fork();
    if (older == 0) {
        for (int fd : parentDescriptors()) {
            ::close(fd);
        }
        for (;;) {
            ::pause();
        }
    }
    m_older.pid = older;
    const oxlenpay::ProcessIdentity self = oxlenpay::ProcessIdentity::of(older);
    sqlite3* db = nullptr;
    const QString sql =
        QString("PRAGMA journal_mode = WAL;"
                "CREATE TABLE operations (id TEXT PRIMARY KEY NOT NULL, operation TEXT NOT NULL, "
                "amount INTEGER NOT NULL, currency INTEGER NOT NULL, payment_id TEXT NOT NULL "
                "DEFAULT '', state TEXT NOT NULL, provider_status TEXT NOT NULL DEFAULT '', "
                "message_key TEXT NOT NULL DEFAULT '', created_ms INTEGER NOT NULL, changed_ms "
                "INTEGER NOT NULL, owner_pid INTEGER NOT NULL, owner_start INTEGER NOT NULL);"
                "INSERT INTO operations VALUES ('%1', 'sale', %2, 398, '%3', 'waiting', "
                "'PENDING', '', %4, %4, %5, %6);"
                "PRAGMA application_id = 1331186252; PRAGMA user_version = 1;")
            .arg(m_older.rowId)
            .arg(m_older.amount)
            .arg(m_older.paymentId)
            .arg(WallStart.toMSecsSinceEpoch() + m_nowMs)
            .arg(self.pid)
            .arg(self.startTicks);
    const int fd = ::open(QFile::encodeName(m_journal).constData(), O_CREAT | O_RDWR, 0600);
    if (fd >= 0) {
        ::close(fd);
    }
    if (sqlite3_open_v2(m_journal.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr) ==
        SQLITE_OK) {
        sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, nullptr);
    }
    sqlite3_close_v2(db);
    m_older.running = true;
    m_operations.append({m_older.rowId, "sale", m_older.paymentId, m_older.amount, "none", {}});
    trace("older", "a version-1 till waits on payment " + m_older.paymentId,
          {{"fault", "older-writer"}, {"paymentId", m_older.paymentId}});
}

void Simulation::stopOlderWriter()
{
    if (m_older.pid > 0) {
        ::kill(m_older.pid, SIGKILL);
        ::waitpid(m_older.pid, nullptr, 0);
        m_older.pid = -1;
    }
}

void Simulation::endOlderWriter()
{
    // It polls once more and ends: it tells its host what the status says and writes that;
    // a sale still pending stays open, its process gone.
    m_older.running = false;
    stopOlderWriter();
    const ModelProvider::Payment* payment = m_provider.byId(m_older.paymentId);
    const QString status = payment ? payment->status : QString();
    const QString state = status == "SUCCESS"    ? "done"
                          : status == "PENDING"  ? "waiting"
                          : status == "REVERSED" ? "reversed"
                                                 : "declined";
    QString told = state == "done" ? "approved" : state == "waiting" ? "unknown" : "declined";
    releaseWriteLock();
    bool written = false;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(m_journal.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr) ==
        SQLITE_OK) {
        sqlite3_busy_timeout(db, 1000);
        const QString sql = QString("UPDATE operations SET state = '%1', "
                                    "changed_ms = %2 WHERE id = '%3' AND state IN ('sending', "
                                    "'waiting')")
                                .arg(state)
                                .arg(WallStart.toMSecsSinceEpoch() + m_nowMs)
                                .arg(m_older.rowId);
        written =
            sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, nullptr) == SQLITE_OK &&
            sqlite3_changes(db) == 1;
    }
    sqlite3_close_v2(db);
    if (!written) {
        told = "unknown"; // it could not write its outcome, and says so
    }
    for (Operation& operation : m_operations) {
        if (operation.id == m_older.rowId) {
            operation.told = told;
        }
    }
    if (told == "approved") {
        m_sold.append({m_older.paymentId, m_older.amount, 0, false});
    }
    trace("older", QString("the version-1 till ends: payment %1 %2, its host is told %3")
                       .arg(m_older.paymentId, status, told));
}

// --- the cashier ----------------------------------------------------------------------------

void Simulation::record(const QString& id, const QString& kind, const QString& paymentId,
                        qint64 amount, const QJsonObject& done)
{
    const bool crashed = done.value("k").toString() == "crashed";
    QString told = crashed ? "none" : done.value("told").toString();
    const QString named = done.value("paymentId").toString();
    if (!crashed && kind != "fiscal") {
        // The cashier reads the till; the host acts on the plug-in's answer. Where the till
        // read another outcome than the plug-in's own settlement, that is checked once here,
        // and the plug-in's decision stands for what the host was told.
        const QString settlement = done.value("settlement").toString();
        const QString decided = settlement == "approved"                               ? "approved"
                                : settlement == "declined" || settlement == "reversed" ? "declined"
                                                                                       : "unknown";
        if (decided != told) {
            violate("till-misread-outcome",
                    QString("the till printed %1 for the %2 %3, the plug-in decided %4")
                        .arg(told, kind, shortId(id), decided));
            told = decided;
            m_misread.insert(paymentId.isEmpty() ? named : paymentId);
        }
    }
    m_operations.append({id, kind, paymentId.isEmpty() ? named : paymentId, amount, told, {}});
    const QString key = done.value("key").toString();
    trace("till",
          QString("%1 %2 of %3: told %4%5%6")
              .arg(kind, shortId(id))
              .arg(amount)
              .arg(told, named.isEmpty() ? QString() : ", payment " + named,
                   key.isEmpty() ? QString() : " (" + key + ")"),
          {{"paymentId", named}, {"after", told}});
}

void Simulation::sale()
{
    ModelProvider::Customer customer;
    const int does = int(m_schedule.bounded(10u));
    customer.does = does < 6   ? ModelProvider::Customer::Does::Confirm
                    : does < 8 ? ModelProvider::Customer::Does::Decline
                               : ModelProvider::Customer::Does::Nothing;
    customer.atMs = m_schedule.bounded(3u) == 0 ? 0 : qint64(m_schedule.bounded(9000u));
    m_provider.setNextCustomer(customer);
    const QString id = nextId();
    const qint64 amount = 100 + m_schedule.bounded(5000u);
    const QJsonObject done =
        command(&m_till, {{"k", "sale"}, {"id", id}, {"amount", double(amount)}});
    record(id, "sale", QString(), amount, done);
    const ModelProvider::Payment* payment = m_provider.byTransaction(id);
    if (done.value("told").toString() == "approved" && payment) {
        m_sold.append({payment->id, amount, 0, false});
    }
}

void Simulation::refund()
{
    QVector<int> candidates;
    for (int i = 0; i < m_sold.size(); ++i) {
        if (!m_sold[i].cancelAsked && m_sold[i].amount - m_sold[i].refundsAsked > 1) {
            candidates << i;
        }
    }
    const quint32 pick = m_schedule.generate();
    const quint32 part = m_schedule.generate();
    if (candidates.isEmpty()) {
        return;
    }
    // By index and by copy: the list may grow while the command runs (an older till ends).
    const int index = candidates[int(pick % quint32(candidates.size()))];
    const Sold sold = m_sold[index];
    const qint64 left = sold.amount - sold.refundsAsked;
    const qint64 amount = 1 + qint64(part % quint32(left - 1));
    const QString id = nextId();
    m_sold[index].refundsAsked += amount; // asked again only after a decline
    const QJsonObject done = command(&m_till, {{"k", "refund"},
                                               {"id", id},
                                               {"rrn", sold.paymentId},
                                               {"amount", double(amount)},
                                               {"original", double(sold.amount)}});
    record(id, "refund", sold.paymentId, amount, done);
    if (done.value("told").toString() == "declined") {
        m_sold[index].refundsAsked -= amount;
    }
}

void Simulation::cancel()
{
    QVector<int> candidates;
    for (int i = 0; i < m_sold.size(); ++i) {
        if (!m_sold[i].cancelAsked) {
            candidates << i;
        }
    }
    const quint32 pick = m_schedule.generate();
    if (candidates.isEmpty()) {
        return;
    }
    const int index = candidates[int(pick % quint32(candidates.size()))];
    const Sold sold = m_sold[index];
    const QString id = nextId();
    // Hosts send the sale's sum, what they think is left, or nothing at all; the row must
    // hold what the cancel returns whatever they send.
    const qint64 sums[] = {sold.amount - sold.refundsAsked, sold.amount, 0};
    const qint64 amount = sums[m_schedule.generate() % 3];
    const QVector<qint64> knew = cancelAmountKnown(sold.paymentId, sold.amount, amount);
    m_sold[index].cancelAsked = true;
    const QJsonObject done =
        command(&m_till,
                {{"k", "cancel"}, {"id", id}, {"rrn", sold.paymentId}, {"amount", double(amount)}});
    record(id, "cancel", sold.paymentId, amount, done);
    m_operations.last().journalKnew = knew;
    if (done.value("told").toString() == "declined") {
        m_sold[index].cancelAsked = false;
    }
}

QVector<qint64> Simulation::cancelAmountKnown(const QString& paymentId, qint64 saleAmount,
                                              qint64 sum)
{
    QVector<JournalEntry> rows;
    // A file only a writer can read yet (an older till's, before a till of this build
    // migrated it) holds the sale as the simulation knows it.
    const bool read = readRows(&rows);
    const qint64 withoutSale = sum > 0 ? sum : -1;
    // A till opening the journal purges the settled rows of more than a day (journalDays).
    const qint64 purgedBefore = WallStart.toMSecsSinceEpoch() + m_nowMs + m_jumpMs - 24 * HourMs;
    qint64 sale = read ? -1 : saleAmount;
    bool purgeable = !read; // the migrating till may purge the sale's row before it looks
    qint64 refunded = 0;
    for (const JournalEntry& row : rows) {
        if (row.paymentId != paymentId || !row.amountKnown) {
            continue;
        }
        if (row.operation == JournalEntry::Operation::Sale) {
            sale = row.amount;
            purgeable = row.isSettled() && row.changed.toMSecsSinceEpoch() < purgedBefore;
        } else if (row.operation == JournalEntry::Operation::PartialReversal &&
                   row.state == State::Done) {
            refunded += row.amount;
        }
    }
    qint64 approved = 0;
    for (const Operation& operation : m_operations) {
        if (operation.kind == "refund" && operation.paymentId == paymentId &&
            operation.told == "approved") {
            approved += operation.amount;
        }
    }
    const qint64 withSale = sale >= 0 ? qMax<qint64>(0, sale - refunded) : withoutSale;
    const qint64 fromTill = sale >= 0 ? qMax<qint64>(0, sale - approved) : withoutSale;
    return {withSale, fromTill, purgeable ? withoutSale : withSale};
}

void Simulation::fiscal()
{
    const quint32 pick = m_schedule.generate();
    if (m_sold.isEmpty()) {
        return;
    }
    const QString paymentId = m_sold[int(pick % quint32(m_sold.size()))].paymentId;
    const QString id = nextId();
    const QString url = "https://ofd.example/r?i=" + id;
    const QJsonObject done =
        command(&m_till, {{"k", "fiscal"}, {"id", id}, {"rrn", paymentId}, {"url", url}});
    record(id, "fiscal", paymentId, 0, done);
    // A link the host hears confirmed is the provider's: otherwise the host never sends it
    // again and the customer's receipt is lost.
    const ModelProvider::Payment* payment = m_provider.byId(paymentId);
    if (done.value("told").toString() == "approved" && (!payment || payment->fiscalUrl != url)) {
        violate("fiscal-link-not-delivered",
                QString("the host heard the fiscal link %1 of payment %2 confirmed, and the "
                        "provider holds %3")
                    .arg(shortId(id), paymentId,
                         payment && !payment->fiscalUrl.isEmpty() ? payment->fiscalUrl : "none"));
    }
}

void Simulation::recover(TillProcess* till, const QString& who)
{
    const qint64 began = m_nowMs;
    const QJsonObject done = command(till, {{"k", "recover"}});
    if (done.value("k").toString() == "crashed") {
        return;
    }
    trace(who, QString("recovered %1 rows in %2 ms%3")
                   .arg(done.value("entries").toInt())
                   .arg(m_nowMs - began)
                   .arg(done.value("error").toString().isEmpty()
                            ? QString()
                            : ": " + done.value("error").toString()));
    if (m_nowMs - began > oxlenpay::settings::RecoveryLimitMs + 2 * TimeoutMs) {
        violate("recovery-too-long",
                QString("%1's recovery took %2 ms").arg(who).arg(m_nowMs - began));
    }
}

void Simulation::operate()
{
    const ModelProvider::Customer none;
    if (m_jumpMs != 0 && m_schedule.bounded(2u) == 0) {
        m_jumpMs = 0;
        trace("admin", "the till's clock is set right again");
    }
    const FaultPlan::Decision jump = m_plan.draw(Fault::ClockJump, "between operations", 0.5);
    if (jump.fires) {
        static const qint64 jumps[] = {-3 * 24 * HourMs, -5 * HourMs, -HourMs,        HourMs,
                                       2 * HourMs,       26 * HourMs, 4 * 24 * HourMs};
        m_jumpMs = jumps[jump.extra % (sizeof jumps / sizeof *jumps)];
        trace("admin", QString("the till's wall clock jumps by %1 h").arg(m_jumpMs / HourMs),
              {{"fault", "clock-jump"}});
    }
    const int dice = int(m_schedule.bounded(100u));
    if (dice < 45) {
        sale();
    } else if (dice < 62) {
        refund();
    } else if (dice < 75) {
        cancel();
    } else if (dice < 87) {
        fiscal();
    } else {
        recover(&m_till, "till");
    }
    // The shop goes on: minutes between customers, now and then a night.
    advanceTo(m_nowMs + qint64(m_schedule.bounded(120000u)));
    if (m_schedule.bounded(100u) < 8) {
        advanceTo(m_nowMs + 30 * HourMs);
    }
}

// --- the checks -----------------------------------------------------------------------------

void Simulation::reconcile()
{
    // The day's reconciliation, as `journal reconcile` keeps it: the provider's status beside
    // every row with a payment id. The rows belong to their writers and recovery: not one
    // field of theirs may move, or recovery and the purge would act on a changed row.
    QVector<JournalEntry> before;
    if (!readRows(&before)) {
        return;
    }
    m_reader.close();
    {
        oxlenpay::Journal journal;
        if (!journal.open(m_journal, oxlenpay::Journal::OpenMode::ExistingOnly)) {
            return;
        }
        int noted = 0;
        for (const JournalEntry& row : before) {
            const ModelProvider::Payment* payment = m_provider.byId(row.paymentId);
            if (payment && journal.noteReconciliation(row.id, payment->status)) {
                ++noted;
            }
        }
        journal.noteRun("reconcile", 0, noted);
    }
    QVector<JournalEntry> after;
    readRows(&after);
    const auto same = [](const JournalEntry& a, const JournalEntry& b) {
        return a.id == b.id && a.state == b.state && a.owner == b.owner && a.changed == b.changed &&
               a.created == b.created && a.ended == b.ended && a.amount == b.amount &&
               a.amountKnown == b.amountKnown && a.providerStatus == b.providerStatus &&
               a.messageKey == b.messageKey && a.refusals == b.refusals &&
               a.retryAfter == b.retryAfter;
    };
    if (after.size() != before.size() ||
        !std::equal(before.begin(), before.end(), after.begin(), same)) {
        violate("reconcile-wrote-a-row",
                QString("%1 rows before the reconciliation, %2 after, not all the same")
                    .arg(before.size())
                    .arg(after.size()));
    }
}

bool Simulation::readRows(QVector<JournalEntry>* rows)
{
    rows->clear();
    if (!m_reader.isOpen() && (!QFile::exists(m_journal) ||
                               !m_reader.open(m_journal, oxlenpay::Journal::OpenMode::ReadOnly))) {
        m_reader.close();
        return false;
    }
    if (!m_reader.entries(rows, false)) {
        m_reader.close(); // read again from a fresh handle next time
        return false;
    }
    return true;
}

bool Simulation::vanishPending()
{
    if (!m_vanishPending) {
        return false;
    }
    QVector<JournalEntry> rows;
    if (!readRows(&rows)) {
        return true; // not made anew yet, or its first transaction is under way
    }
    for (const JournalEntry& row : rows) {
        m_vanishKeep.remove(row.id);
    }
    m_vanishPending = !m_vanishKeep.isEmpty();
    return m_vanishPending;
}

void Simulation::checkRows()
{
    if (vanishPending()) {
        return; // looked at again once a till made the journal anew
    }
    QVector<JournalEntry> rows;
    if (!readRows(&rows) && (QFile::exists(m_journal) || !m_vanished)) {
        return; // nothing written yet, or a version-1 file no till of this build opened yet
    }
    QSet<QString> present;
    QSet<QString> unsettled;
    for (const JournalEntry& row : rows) {
        // An operation's times are its own: once it ended, recovery, a carry-over or another
        // till never moves them.
        const auto seen = m_seen.constFind(row.id);
        if (seen != m_seen.constEnd() && seen->ended.isValid() &&
            (row.ended != seen->ended || row.created != seen->created ||
             row.firstAnswer != seen->firstAnswer)) {
            violate("operation-times-moved",
                    QString("the %1 row %2 ended at %3 and now at %4")
                        .arg(JournalEntry::operationName(row.operation), shortId(row.id))
                        .arg(seen->ended.toMSecsSinceEpoch())
                        .arg(row.ended.toMSecsSinceEpoch()));
        }
        m_seen.insert(row.id, row);
        present.insert(row.id);
        if (!row.isSettled()) {
            unsettled.insert(row.id);
        }
    }
    for (const QString& id : m_unsettledRows) {
        if (!present.contains(id)) {
            violate(m_vanished ? "vanished-journal-row-lost" : "unsettled-row-purged",
                    "a row that was not settled is gone from the journal: " + id);
        }
    }
    m_unsettledRows = unsettled;
    m_vanished = false;
}

QString Simulation::unsettledKind(const JournalEntry& row) const
{
    const ModelProvider::Payment* payment = m_provider.byId(row.paymentId);
    if (row.operation == JournalEntry::Operation::Reversal && payment &&
        payment->shown == "PARTIAL_CANCELLED") {
        return "cancel-after-refund-unsettled";
    }
    return row.state == State::Attention ? "attention-not-allowed" : "unsettled-after-recovery";
}

bool Simulation::allowedAttention(const JournalEntry& row) const
{
    using Operation = JournalEntry::Operation;
    if (row.state != State::Attention) {
        return false;
    }
    return (row.operation == Operation::Sale && row.paymentId.isEmpty()) ||
           row.operation == Operation::PartialReversal ||
           (row.operation == Operation::Sale && m_reverseUnknown == 0);
}

void Simulation::finalChecks(const QVector<JournalEntry>& finalRows)
{
    // Every row as last seen: a settled row the purge removed still counts.
    for (const JournalEntry& row : finalRows) {
        m_seen.insert(row.id, row);
    }
    const QVector<JournalEntry> rows = m_seen.values().toVector();
    QHash<QString, JournalEntry> byId;
    QHash<QString, JournalEntry> finalById;
    for (const JournalEntry& row : finalRows) {
        finalById.insert(row.id, row);
        if (!row.isSettled() && !allowedAttention(row)) {
            violate(unsettledKind(row),
                    QString("after %1 fault-free recoveries the %2 row %3 (payment %4) is %5")
                        .arg(FinalRecoveries)
                        .arg(JournalEntry::operationName(row.operation), shortId(row.id),
                             row.paymentId.isEmpty() ? "-" : row.paymentId,
                             JournalEntry::stateName(row.state)));
        }
    }
    for (const JournalEntry& row : rows) {
        byId.insert(row.id, row);
    }
    QHash<QString, const Operation*> saleOf;
    for (const Operation& operation : m_operations) {
        if (operation.kind == "sale") {
            saleOf.insert(operation.id, &operation);
        }
    }
    for (const ModelProvider::Payment& payment : m_provider.payments()) {
        const Operation* sale = saleOf.value(payment.transactionId);
        const QString told = sale ? sale->told : "none";
        // A settled row the purge removed counts as last seen.
        auto row = finalById.constFind(payment.transactionId);
        if (row == finalById.constEnd() && byId.value(payment.transactionId).isSettled()) {
            row = byId.constFind(payment.transactionId);
        }
        const bool hasRow = row != finalById.constEnd() && row != byId.constEnd();
        const qint64 held = ModelProvider::held(payment);
        qint64 refundedByCashier = 0;
        bool reversedByCancel = false;
        for (const ModelProvider::Action& action : payment.actions) {
            const bool byCancel = std::any_of(
                m_operations.begin(), m_operations.end(), [&](const Operation& operation) {
                    return operation.id == action.operationId && operation.kind == "cancel";
                });
            if (action.full && byCancel) {
                reversedByCancel = true;
            } else if (!action.full) {
                refundedByCashier += action.amount;
            }
        }
        if (told == "approved") {
            if (!payment.charged) {
                violate("approved-sale-not-charged",
                        "the host was told approved, the provider never charged " + payment.id);
            } else if (held != (reversedByCancel ? 0 : payment.amount - refundedByCashier)) {
                violate(payment.id == m_older.paymentId ? "older-till-sale-reversed"
                        : m_vanishedEver                ? "vanished-journal-live-sale-reversed"
                                                        : "approved-sale-reversed",
                        QString("the host was told approved, the provider holds %1 of %2 for %3 "
                                "and no cancel returned it")
                            .arg(held)
                            .arg(payment.amount)
                            .arg(payment.id));
            }
        } else if (held > 0 && told == "declined") {
            // Whatever the journal says: a cashier told declined takes another payment.
            violate("declined-but-charged",
                    QString("the provider holds %1 for %2, the host was told declined")
                        .arg(held)
                        .arg(payment.id));
        } else if (held > 0) {
            const bool allowed = hasRow && allowedAttention(*row);
            const bool journalSaysDone = hasRow && row->state == State::Done && told == "none";
            if (!allowed && !journalSaysDone) {
                // A row left unsettled has been reported as such: the money is its consequence.
                const QString kind =
                    !hasRow ? (m_vanishedEver ? "vanished-journal-row-lost" : "money-held-no-row")
                    : !row->isSettled() ? unsettledKind(*row)
                                        : "money-held-not-approved";
                violate(kind, QString("the provider holds %1 for %2, the host was told %3, the "
                                      "journal says %4")
                                  .arg(held)
                                  .arg(payment.id, told,
                                       hasRow ? JournalEntry::stateName(row->state) : "nothing"));
            }
        }
        if (hasRow && row->state == State::Done && (told == "declined" || told == "unknown")) {
            violate(
                "done-not-told",
                QString("the sale row of %1 is done, the host was told %2").arg(payment.id, told));
        }
        // Refund totals: the provider refunded at least what the journal calls done, and at
        // most that plus the refunds whose outcome waits for a person.
        qint64 done = 0;
        qint64 open = 0;
        for (const JournalEntry& r : rows) {
            if (r.operation == JournalEntry::Operation::PartialReversal &&
                r.paymentId == payment.id) {
                done += r.state == State::Done ? r.amount : 0;
                open += allowedAttention(r) ? r.amount : 0;
            }
        }
        if (payment.refunded > payment.amount) {
            violate("refunded-over-amount", QString("payment %1 was refunded %2 of %3")
                                                .arg(payment.id)
                                                .arg(payment.refunded)
                                                .arg(payment.amount));
        }
        if (refundedByCashier < done || refundedByCashier > done + open) {
            violate(m_vanishedEver && refundedByCashier > done + open ? "vanished-journal-row-lost"
                                                                      : "refund-total-mismatch",
                    QString("payment %1: the provider refunded %2, the journal calls %3 done and "
                            "%4 unknown")
                        .arg(payment.id)
                        .arg(refundedByCashier)
                        .arg(done)
                        .arg(open));
        }
    }
    // A cancel's row holds what it returned, as far as the journal could know it: what the
    // provider returned, or the sale less the refunds the journal had seen done.
    for (const Operation& operation : m_operations) {
        const auto row = byId.constFind(operation.id);
        if (operation.kind != "cancel" || row == byId.constEnd()) {
            continue;
        }
        const ModelProvider::Payment* payment = m_provider.byId(operation.paymentId);
        qint64 returned = -2;
        for (const ModelProvider::Action& action :
             payment ? payment->actions : QVector<ModelProvider::Action>()) {
            returned = action.full && action.operationId == operation.id ? action.amount : returned;
        }
        const auto holds = [&](qint64 knew) {
            return knew < 0 ? !row->amountKnown
                            : row->amountKnown && (row->amount == knew || row->amount == returned);
        };
        if (std::none_of(operation.journalKnew.begin(), operation.journalKnew.end(), holds)) {
            violate("cancel-amount-untrue",
                    QString("the cancel %1 of %2 is journaled with %3, it returned %4 and the "
                            "journal knew %5")
                        .arg(shortId(operation.id), operation.paymentId,
                             row->amountKnown ? QString::number(row->amount) : "unknown")
                        .arg(returned)
                        .arg(operation.journalKnew.value(0, -1)));
        }
    }
    // Refunds and cancels: what the host was told against what was carried out.
    for (const Operation& operation : m_operations) {
        if (operation.kind != "refund" && operation.kind != "cancel") {
            continue;
        }
        const ModelProvider::Payment* payment = m_provider.byId(operation.paymentId);
        int carried = 0;
        bool reversedByRecovery = false; // or by another cancel
        for (const ModelProvider::Action& action :
             payment ? payment->actions : QVector<ModelProvider::Action>()) {
            carried += action.operationId == operation.id ? 1 : 0;
            reversedByRecovery = reversedByRecovery || action.full;
        }
        if (operation.kind == "cancel" && carried == 0 && reversedByRecovery &&
            (operation.told == "unknown" || operation.told == "none")) {
            carried = 1; // what the cancel asked for was done, by another request
        }
        const auto row = byId.constFind(operation.id);
        const QString state =
            row == byId.constEnd() ? QString("no row") : JournalEntry::stateName(row->state);
        const QString about =
            QString("the %1 %2 of %3: told %4, carried out %5 times, row %6")
                .arg(operation.kind, shortId(operation.id), operation.paymentId, operation.told)
                .arg(carried)
                .arg(state);
        if (m_misread.contains(operation.paymentId) &&
            (carried != 0) != (state == "done" || operation.told == "approved")) {
            violate("till-misread-outcome", about); // the cashier acted on a misread answer
        } else if (operation.paymentId == m_older.paymentId && carried == 0 && state == "done") {
            violate("older-till-sale-reversed", about); // recovery had returned it already
        } else if (m_vanishedEver && row == byId.constEnd() && carried != 0) {
            violate("vanished-journal-row-lost", about); // money moved, and its row is gone
        } else if (carried > 1) {
            violate("carried-out-twice", about);
        } else if (operation.told == "approved" && carried != 1) {
            violate("approved-not-carried-out", about);
        } else if (operation.told == "declined" && carried != 0) {
            violate("declined-but-carried-out", about);
        } else if (operation.told == "unknown" || operation.told == "none") {
            const bool allowed = row != byId.constEnd() && allowedAttention(*row);
            const bool right = (carried == 1 && state == "done") ||
                               (carried == 0 && (state == "declined" || state == "no row"));
            if (!allowed && !right && row != byId.constEnd() && row->isSettled()) {
                violate("unknown-settled-wrongly", about);
            }
        }
    }
}

QVector<Simulation::Violation> Simulation::run()
{
    trace("sim", QString("seed %1, reverseUnknown %2, faults: %3")
                     .arg(m_seed)
                     .arg(m_reverseUnknown)
                     .arg(m_plan.describeRates()));
    if (m_plan.draw(Fault::OlderWriter, "at the start").fires) {
        startOlderWriter();
    }
    const int operations = 6 + int(m_schedule.bounded(10u));
    for (int i = 0; i < operations; ++i) {
        operate();
        checkRows();
    }
    // The next morning: no fault anywhere, and recovery finishes the work. Every try comes
    // after every row's retry time.
    m_plan.setEnabled(false);
    m_jumpMs = 0;
    quit(&m_till);
    quit(&m_other);
    if (m_older.running) {
        endOlderWriter();
    }
    releaseWriteLock();
    reconcile();
    QVector<JournalEntry> rows;
    for (int round = 0; round < FinalRecoveries; ++round) {
        advanceTo(m_nowMs + HourMs + 1000);
        recover(&m_till, "final"); // one fresh till, started after the tills of the day
        readRows(&rows);
        for (const JournalEntry& row : rows) {
            m_seen.insert(row.id, row);
        }
        const bool finished =
            std::all_of(rows.begin(), rows.end(), [this](const JournalEntry& row) {
                return row.isSettled() || allowedAttention(row);
            });
        if (finished) {
            break;
        }
    }
    quit(&m_till);
    checkRows();
    readRows(&rows);
    finalChecks(rows);
    return m_violations;
}

} // namespace simulate
