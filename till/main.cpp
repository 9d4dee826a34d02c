// oxlenpay-till: a command-line till that loads the payment plug-in as a shop's
// host does and drives it through the processing interface.
#include "amount.h"
#include "config.h"
#include "configcheck.h"
#include "demo.h"
#include "journalreconcile.h"
#include "journalreport.h"
#include "journalview.h"
#include "pluginhost.h"
#include "printable.h"
#include "restclient.h"
#include "settings.h"
#include "tillcommandline.h"
#include "tilljournal.h"
#include "tilllog.h"
#include "tillmetrics.h"
#include "tilloperations.h"
#include "tillstatus.h"

#include "interface.h"
#include "tillsettings.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonDocument>
#include <QTextStream>
#include <QUuid>

#include <cstdio>
#include <sys/prctl.h>

namespace {

enum ExitStatus { Done = 0, Refused = 1, BadUsage = 2, NoPlugin = 3, IoFailure = 5 };

int fail(int status, const QString& message)
{
    std::fprintf(stderr, "oxlenpay-till: %s\n", till::printable(message).toUtf8().constData());
    return status;
}

// `info` starts with what the plug-in works with: the version, the file, the settings.
void addSettings(const till::TillCommand& command, till::Outcome* outcome)
{
    if (!Singleton<Config>::instance) {
        Singleton<Config>::instance = new Config;
    }
    const QString path = command.configFile.isEmpty()
                             ? Config::relocated(oxlenpay::settings::ConfigPath)
                             : QFileInfo(command.configFile).absoluteFilePath();
    const auto settings = till::EffectiveSettings::read(*Singleton<Config>::instance, path);
    const int afterHeading = outcome->customReceipt.indexOf('\n') + 1;
    outcome->customReceipt.insert(afterHeading, till::receiptLine("Version", till::tillVersion()) +
                                                    settings.text());
    outcome->customJson.insert("version", till::tillVersion());
    outcome->customJson.insert("config", path);
    outcome->customJson.insert("settings", settings.values);
    outcome->customJson.insert("settingNotes", settings.notes);
}

int print(const till::Outcome& outcome, bool json)
{
    // Text from the provider or a journal row is shown, never acted on by the terminal.
    const QByteArray text = json ? till::printableJson(outcome.json())
                                 : till::printablePage(outcome.receipt()).toUtf8();
    // An answer that cannot be written (a full disk under `> file`) must not look delivered:
    // the payment id would be lost with it. Written by its length: nothing cuts it short.
    if (std::fwrite(text.constData(), 1, size_t(text.size()), stdout) != size_t(text.size()) ||
        std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "oxlenpay-till: cannot write the answer to standard output\n");
        return IoFailure;
    }
    return outcome.exitStatus();
}

/// How long `journal reconcile` asks the provider before it counts the rest unanswered.
constexpr qint64 ReconcileBudgetMs = 5 * 60 * 1000;

/// The provider's status of one payment as `journal reconcile` reads it: the status alone,
/// and only from an answer about that very payment.
QString askStatus(oxlenpay::Interface& client, const QString& paymentId)
{
    const auto answer = client.sendRequest(
        oxlenpay::Interface::PaymentStatus,
        {{"service_id", client.getMerchantServiceId().toLongLong()}, {"payment_id", paymentId}});
    return answer.errorCode == 0 && answer.getRrn() == paymentId ? answer.getPaymentStatus()
                                                                 : QString();
}

/// Keeps how a command that works on the whole journal ended, for `metrics` to tell later.
/// A journal that cannot take it loses only that figure.
void noteRun(const QString& name, int status)
{
    oxlenpay::Journal journal;
    QString path, problem;
    if (!till::journalPath().isEmpty() &&
        till::openJournal(&journal, oxlenpay::Journal::OpenMode::ExistingOnly, &path, &problem)) {
        journal.noteRun(name, status, 0);
    }
}

/// `status`, once the command's figures are also in its --metrics-file when one was given;
/// a file that cannot be written is an I/O failure of its own.
int withMetrics(const till::TillCommand& command, int status)
{
    QString error;
    if (!command.metricsFile.isEmpty() && !till::writeMetrics(command.metricsFile, &error)) {
        std::fprintf(stderr, "oxlenpay-till: %s\n", qPrintable(error));
        return status == Done ? IoFailure : status;
    }
    return status;
}

/// `check-config --online`: one signed status request for a payment that cannot exist.
till::ConfigFinding checkOnline(till::TillCommand::Verbosity verbosity)
{
    oxlenpay::Interface client;
    client.init();
    const QString nobody = "check-config-" + QUuid::createUuid().toString(QUuid::WithoutBraces);
    // The provider's "no such payment" is the answer hoped for: the client's error line about
    // it would read as a failure. What the exchange found is the finding below.
    if (verbosity != till::TillCommand::Verbosity::Verbose) {
        till::installLogHandler(till::TillCommand::Verbosity::Quiet);
    }
    const auto answer = client.sendRequest(
        oxlenpay::Interface::PaymentStatus,
        {{"service_id", client.getMerchantServiceId().toLongLong()}, {"payment_id", nobody}});
    till::installLogHandler(verbosity);
    if (answer.errorCode == 1009 || (answer.success && !answer.getPaymentStatus().isEmpty())) {
        return {0,
                "online: the host answers, its certificate is trusted and the signature is "
                "accepted",
                true};
    }
    if (answer.errorCode == 1001 || answer.errorCode == 1002) {
        return {0, QString("online: the provider refused the signature (%1 %2): check "
                           "merchantServiceUserId, merchantSecretKey and the till's clock")
                       .arg(answer.errorCode)
                       .arg(answer.message.ru())};
    }
    if (answer.errorCode != 0) {
        return {0, QString("online: the provider answered code %1: %2")
                       .arg(answer.errorCode)
                       .arg(answer.message.ru())};
    }
    // Most often a private CA: the system's store does not know the provider's issuer.
    const QString hint = answer.message.key() == QLatin1String("restClientTlsFailed")
                             ? "; when the provider's certificate comes from a CA of your own, "
                               "give it with --ca-file PEM here and STROVA_CA_FILE=PEM to the "
                               "host and the recovery timer (/etc/default/oxlenpay-recover)"
                             : "";
    return {0, QString("online: no answer from the provider: %1 (%2)%3")
                   .arg(answer.message.isEmpty() ? "the answer was lost" : answer.message.ru(),
                        answer.message.key(), hint)};
}

int checkConfig(const till::TillCommand& command)
{
    const QString path = !command.checkedFile.isEmpty() ? command.checkedFile
                         : !command.configFile.isEmpty()
                             ? command.configFile
                             : Config::relocated(oxlenpay::settings::ConfigPath);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return fail(
            BadUsage,
            QString("cannot read the configuration file %1: %2").arg(path, file.errorString()));
    }
    QVector<till::ConfigFinding> findings = till::checkConfigFile(path, file.readAll());
    if (command.online) {
        Singleton<Config>::instance = new Config; // the host's, kept for the whole run
        Singleton<Config>::instance->redirect(oxlenpay::settings::ConfigPath,
                                              QFileInfo(path).absoluteFilePath());
        till::ConfigFinding online = checkOnline(command.verbosity);
        online.warning = false;
        findings.append(online);
    }
    int mistakes = 0, warnings = 0;
    for (const till::ConfigFinding& finding : findings) {
        const bool good = finding.text.startsWith("online: the host answers");
        mistakes += !finding.warning && !finding.note && !good;
        warnings += finding.warning;
        const QString where =
            finding.line > 0 ? QString("%1:%2").arg(path).arg(finding.line) : path;
        std::printf("%s: %s%s\n", till::printable(where).toUtf8().constData(),
                    finding.warning ? "warning: " : "",
                    till::printable(finding.text).toUtf8().constData());
    }
    if (mistakes == 0 && warnings == 0) {
        std::printf("%s: no mistakes found\n", path.toUtf8().constData());
    } else {
        std::printf("%s: %d mistake(s), %d warning(s)\n", path.toUtf8().constData(), mistakes,
                    warnings);
    }
    return mistakes > 0 ? BadUsage : warnings > 0 ? Refused : Done;
}

} // namespace

int main(int argc, char* argv[])
{
    // No core file: one would hold the merchant's secret and the scanned token.
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("oxlenpay-till");

    till::TillCommand command;
    QString error;
    if (!till::parseCommandLine(app.arguments().mid(1), &command, &error)) {
        return fail(BadUsage, error + "\n(see oxlenpay-till --help)");
    }
    if (command.version) {
        std::printf("oxlenpay-till %s\n", qPrintable(till::tillVersion()));
        return Done;
    }
    if (command.help) {
        const QString text = till::usage(command.commandGiven ? command.name : QString());
        std::fputs(text.toUtf8().constData(), stdout);
        return Done;
    }
    till::installLogHandler(command.verbosity);
    if (command.name == "check-config") {
        if (command.online && !command.caFile.isEmpty() &&
            !RestClient::addTrustedCaFile(command.caFile)) {
            return fail(BadUsage, "cannot use the CA file " + command.caFile);
        }
        return checkConfig(command);
    }

    if (!command.caFile.isEmpty() && !RestClient::addTrustedCaFile(command.caFile)) {
        return fail(BadUsage, "cannot use the CA file " + command.caFile);
    }
    till::Demo demo;
    if (command.name == "demo") {
        if (!demo.prepare(command.verbosity == till::TillCommand::Verbosity::Verbose, &error)) {
            return fail(BadUsage, "cannot start the demo: " + error);
        }
    } else if (!command.configFile.isEmpty()) {
        if (!QFileInfo(command.configFile).isReadable()) {
            return fail(BadUsage, "cannot read the configuration file " + command.configFile);
        }
        Singleton<Config>::instance = new Config; // the host's, kept for the whole run
        Singleton<Config>::instance->redirect(oxlenpay::settings::ConfigPath,
                                              QFileInfo(command.configFile).absoluteFilePath());
    }

    till::Outcome outcome;
    const QStringList writers = {"sale", "refund", "cancel", "fiscal", "recover", "journal"};
    if (writers.contains(command.name) && !till::journalOwnedByMe(&error)) {
        return fail(BadUsage, error);
    }
    if (command.name == "journal" && command.resolve) {
        bool ioFailure = false;
        QString id;
        if (!till::expandIdPrefix(command.resolvedId, &id, &error)) {
            return fail(BadUsage, error);
        }
        if (!till::resolveEntry(id, command.note, &outcome, &error, &ioFailure)) {
            return fail(ioFailure ? IoFailure : BadUsage, error);
        }
        return print(outcome, command.json);
    }
    if (command.name == "journal") {
        till::JournalQuery query;
        query.filter.unsettledOnly = command.openOnly;
        if (!command.entryId.isEmpty() &&
            !till::expandIdPrefix(command.entryId, &query.filter.id, &error)) {
            return fail(BadUsage, error);
        }
        query.amount = command.hasAmount ? command.amount : -1;
        query.filter.paymentId = command.paymentId;
        query.csv = command.csv;
        if ((!command.since.isEmpty() &&
             !till::parseTime(command.since, false, &query.filter.since, &error)) ||
            (!command.until.isEmpty() &&
             !till::parseTime(command.until, true, &query.filter.until, &error))) {
            return fail(BadUsage, error);
        }
        oxlenpay::Interface client;
        if (command.reconcile) {
            client.init();
        }
        const auto lookup = [&client](const QString& paymentId) {
            return askStatus(client, paymentId);
        };
        const bool read =
            command.reconcile
                ? till::reconcileJournal(query.filter, lookup, ReconcileBudgetMs, &outcome, &error)
            : command.report ? till::journalReport(query.filter, &outcome, &error)
                             : till::journalListing(query, &outcome, &error);
        if (!read) {
            return fail(till::journalPath().isEmpty() ? BadUsage : IoFailure, error);
        }
        return withMetrics(command, print(outcome, command.json));
    }

    if (command.name == "metrics") {
        if (command.metricsFile.isEmpty()) {
            const QByteArray text = till::metricsText().toUtf8();
            return std::fwrite(text.constData(), 1, size_t(text.size()), stdout) ==
                           size_t(text.size())
                       ? Done
                       : IoFailure;
        }
        return withMetrics(command, Done);
    }

    if (command.name == "status") {
        return print(till::paymentStatus(command.rrn), command.json);
    }

    if (command.name == "refund" || command.name == "cancel") {
        // The plug-in sends what it is given; the till holds a cashier to what is left.
        qint64 remaining = 0;
        const qint64 asked = command.name == "refund" || command.hasAmount ? command.amount : -1;
        if (till::remainingOf(command.rrn, &remaining) &&
            (asked > remaining || (asked < 0 && remaining == 0))) {
            return fail(BadUsage,
                        QString("the journal has %1 left of payment %2: a %3 of %4 "
                                "cannot be sent")
                            .arg(till::formatAmount(remaining), till::printable(command.rrn),
                                 command.name,
                                 asked < 0 ? QString("the rest") : till::formatAmount(asked)));
        }
    }

    till::PluginHost host;
    const QString pluginPath =
        command.pluginPath.isEmpty() ? till::PluginHost::defaultPluginPath() : command.pluginPath;
    if (!host.load(pluginPath, &error)) {
        return fail(NoPlugin, QString("cannot load the plug-in %1: %2").arg(pluginPath, error));
    }

    till::TillOperations till(host.processing());
    if (command.name == "demo") {
        return demo.run(till, command.json) ? Done : Refused;
    }
    if (command.name == "recover") {
        if (!till::recoverJournal(host.object(), &outcome, &error)) {
            // A journal that is there and cannot be worked on is the disk's or the rights'
            // fault, not the command's.
            const int status = till::journalPath().isEmpty() ? BadUsage : IoFailure;
            noteRun("recover", status);
            return withMetrics(command, fail(status, error));
        }
        const int status = print(outcome, command.json);
        noteRun("recover", status);
        return withMetrics(command, status);
    } else if (command.name == "sale") {
        QString token = command.token;
        if (token == "-") {
            QTextStream input(stdin);
            token = input.readLine().trimmed();
            if (token.isEmpty()) {
                return fail(BadUsage, "no token on standard input");
            }
        }
        outcome = till.sale(command.amount, token, command.currency);
    } else if (command.name == "refund") {
        outcome = till.refund(command.rrn, command.amount, command.original, command.currency);
    } else if (command.name == "cancel") {
        outcome =
            till.cancel(command.rrn, command.hasAmount ? command.amount : 0, command.currency);
    } else if (command.name == "fiscal") {
        outcome = till.fiscal(command.rrn, command.qr);
    } else {
        outcome = till.info();
        addSettings(command, &outcome);
    }
    return print(outcome, command.json);
}
