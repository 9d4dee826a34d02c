// oxlenpay-sandbox: the provider's merchant API on this machine, for trying the
// plug-in without the provider. See sandbox/README.md.
#include "sandboxserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <csignal>
#include <cstdio>

namespace {

bool parse(const QStringList& arguments, sandbox::SandboxOptions* options, QString* error)
{
    QCommandLineParser parser;
    parser.setApplicationDescription("A local stand-in for the Oxlen Pay merchant API.");
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption host("host", "Address to listen on.", "address", options->host);
    const QCommandLineOption port("port", "Port; 0 picks a free one.", "port", "8443");
    const QCommandLineOption basePath("base-path", "Base path of the API.", "path",
                                      options->basePath);
    const QCommandLineOption plain("http", "Serve plain HTTP (loopback only).");
    const QCommandLineOption certificate("cert", "Certificate chain (PEM).", "file");
    const QCommandLineOption key("key", "Private key (PEM).", "file");
    const QCommandLineOption certificateOut(
        "cert-out", "Write the self-signed certificate here, for clients to trust.", "file");
    const QCommandLineOption serviceId("service-id", "Accepted service_id.", "id",
                                       QString::number(options->serviceId));
    const QCommandLineOption cashbox("cashbox", "Accepted cashbox_code.", "code",
                                     options->cashboxCode);
    const QCommandLineOption user("user-id", "Accepted user id of Authorization.", "id",
                                  options->userId);
    const QCommandLineOption secret("secret", "Secret key the signature is checked with.", "key",
                                    options->secretKey);
    const QCommandLineOption settle("settle-after", "Status polls before a sale settles.", "n",
                                    QString::number(options->settleAfterPolls));
    const QCommandLineOption slow("slow-ms", "Delay of the slow scenario.", "ms",
                                  QString::number(options->slowDelayMs));
    const QCommandLineOption quiet("quiet", "No line per request.");
    parser.addOptions({host, port, basePath, plain, certificate, key, certificateOut, serviceId,
                       cashbox, user, secret, settle, slow, quiet});
    parser.process(arguments);

    bool ok = true;
    auto number = [&](const QCommandLineOption& option) {
        bool valid = false;
        const qint64 value = parser.value(option).toLongLong(&valid);
        ok = ok && valid && value >= 0;
        return value;
    };
    options->host = parser.value(host);
    const qint64 portNumber = number(port);
    options->port = quint16(portNumber);
    options->basePath = parser.value(basePath);
    options->serviceId = number(serviceId);
    options->cashboxCode = parser.value(cashbox);
    options->userId = parser.value(user);
    options->secretKey = parser.value(secret);
    options->settleAfterPolls = int(number(settle));
    options->slowDelayMs = int(number(slow));
    options->logRequests = !parser.isSet(quiet);
    if (!ok || portNumber > 65535) {
        *error = "a numeric option is not a valid number";
        return false;
    }
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
