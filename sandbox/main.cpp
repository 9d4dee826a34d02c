// oxlenpay-sandbox: the provider's merchant API on this machine, for trying the
// plug-in without the provider. See sandbox/README.md.
#include "sandboxserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <csignal>
#include <cstdio>

namespace {

// An option whose help names its default.
QCommandLineOption withDefault(const QString& name, const QString& description,
                               const QString& valueName, const QString& value)
{
    return QCommandLineOption(name, QString("%1 (default: %2)").arg(description, value), valueName,
                              value);
}

bool parse(const QStringList& arguments, sandbox::SandboxOptions* options, QString* error)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "A local stand-in for the Oxlen Pay merchant API, with a dashboard at /_sandbox/.");
    parser.addHelpOption();
    parser.addVersionOption();
    const auto host = withDefault("host", "Address to listen on.", "address", options->host);
    const auto port = withDefault("port", "Port; 0 picks a free one.", "port", "8443");
    const auto basePath =
        withDefault("base-path", "Base path of the API.", "path", options->basePath);
    const QCommandLineOption plain("http", "Serve plain HTTP (loopback only).");
    const QCommandLineOption certificate("cert", "Certificate chain (PEM).", "file");
    const QCommandLineOption key("key", "Private key (PEM).", "file");
    const QCommandLineOption certificateOut(
        "cert-out", "Write the self-signed certificate here, for clients to trust.", "file");
    const auto serviceId = withDefault("service-id", "Accepted service_id.", "id",
                                       QString::number(options->serviceId));
    const auto cashbox =
        withDefault("cashbox", "Accepted cashbox_code.", "code", options->cashboxCode);
    const auto user =
        withDefault("user-id", "Accepted user id of Authorization.", "id", options->userId);
    const auto secret = withDefault("secret", "Secret key the signature is checked with.", "key",
                                    options->secretKey);
    const auto currency = withDefault("currency", "The merchant account's currency (ISO 4217).",
                                      "code", QString::number(options->currency));
    const auto settle = withDefault("settle-after", "Status polls before a sale settles.", "n",
                                    QString::number(options->settleAfterPolls));
    const auto slow = withDefault("slow-ms", "Delay of the slow scenario.", "ms",
                                  QString::number(options->slowDelayMs));
    const QCommandLineOption quiet("quiet", "No line per request.");
    parser.addOptions({host, port, basePath, plain, certificate, key, certificateOut, serviceId,
                       cashbox, user, secret, currency, settle, slow, quiet});
    parser.process(arguments);

    // Each number is checked on its own, so the message names the option at fault.
    auto number = [&](const QCommandLineOption& option, qint64 largest, qint64* value) {
        bool valid = false;
        const QString text = parser.value(option);
        *value = text.toLongLong(&valid);
        if (!valid || *value < 0 || *value > largest) {
            *error = QString("--%1 %2 is not a valid number (0 to %3)")
                         .arg(option.names().first(), text)
                         .arg(largest);
            return false;
        }
        return true;
    };
    qint64 portNumber = 0, service = 0, polls = 0, slowMs = 0, currencyCode = 0;
    if (!number(port, 65535, &portNumber) || !number(serviceId, Q_INT64_C(1) << 53, &service) ||
        !number(currency, 999, &currencyCode) || !number(settle, 1000000, &polls) ||
        !number(slow, 3600000, &slowMs)) {
        return false;
    }
    options->currency = int(currencyCode);
    options->host = parser.value(host);
    options->port = quint16(portNumber);
    options->basePath = parser.value(basePath);
    options->serviceId = service;
    options->cashboxCode = parser.value(cashbox);
    options->userId = parser.value(user);
    options->secretKey = parser.value(secret);
    options->settleAfterPolls = int(polls);
    options->slowDelayMs = int(slowMs);
    options->logRequests = !parser.isSet(quiet);
    if (parser.isSet(plain)) {
        options->tls = sandbox::SandboxOptions::Tls::None;
    } else if (parser.isSet(certificate) || parser.isSet(key)) {
        if (!parser.isSet(certificate) || !parser.isSet(key)) {
            *error = "--cert and --key go together";
            return false;
        }
        options->tls = sandbox::SandboxOptions::Tls::Files;
        options->certificateFile = parser.value(certificate);
        options->keyFile = parser.value(key);
    } else {
        options->tls = sandbox::SandboxOptions::Tls::SelfSigned;
        options->certificateOut = parser.value(certificateOut);
    }
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("oxlenpay-sandbox");
    QCoreApplication::setApplicationVersion(OXLENPAY_VERSION);

    sandbox::SandboxOptions options;
    QString error;
    if (!parse(app.arguments(), &options, &error)) {
        std::fprintf(stderr, "oxlenpay-sandbox: %s\n", error.toLocal8Bit().constData());
        return 2;
    }

    // Block the stop signals before any thread starts, then wait for one here.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    sandbox::SandboxServer server(options);
    if (!server.start(&error)) {
        std::fprintf(stderr, "oxlenpay-sandbox: %s\n", error.toLocal8Bit().constData());
        return 1;
    }
    std::printf("%s\n", server.baseUrl().toUtf8().constData());
    std::fflush(stdout);
    if (options.tls == sandbox::SandboxOptions::Tls::SelfSigned &&
        !options.certificateOut.isEmpty()) {
        std::fprintf(stderr, "self-signed certificate written to %s\n",
                     options.certificateOut.toLocal8Bit().constData());
    }

    int received = 0;
    sigwait(&stopSignals, &received);
    std::fprintf(stderr, "stopping\n");
    server.stop();
    return 0;
}
