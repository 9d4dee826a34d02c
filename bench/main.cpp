// oxlenpay-bench: Google Benchmark's runner, plus two one-shot modes that measure
// what only a fresh process shows (bench/compare.sh runs them many times):
//   --first-exchange ROOT_URL CA_FILE   the first payment exchange of a process
//   --plugin-load PLUGIN                loading the plug-in, its instance and init
#include "restclient.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QPluginLoader>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>

namespace {

double milliseconds(const QElapsedTimer& timer)
{
    return double(timer.nsecsElapsed()) / 1e6;
}

int firstExchange(const QString& rootUrl, const QString& caFile)
{
    RestClient::addTrustedCaFile(caFile);
    const QString stamp = QString::number(QDateTime::currentMSecsSinceEpoch());
    const QString digest =
        QCryptographicHash::hash((stamp + "sandbox-secret").toUtf8(), QCryptographicHash::Sha1)
            .toHex();
    const QHash<QString, QString> headers{
        {"Accept", "application/json"},
        {"Content-Type", "application/json"},
        {"Authorization", "merchant-user:" + digest + ':' + stamp}};
    const QJsonObject sale{
        {"amount", 100},
        {"service_id", 5001},
        {"otp_data", "pending"},
        {"cashbox_code", "till-01"},
        {"transaction_id",
         "first-" + stamp + '-' + QString::number(QCoreApplication::applicationPid())}};
    QElapsedTimer timer;
    timer.start();
    RestClient client;
    client.setTimeout(10000);
    const bool ok = client.send(4, QUrl(rootUrl + "/api/quindo-pay/merchant/payment"),
                                QJsonDocument(sale), headers);
    std::printf("first_exchange_ms %.3f\n", milliseconds(timer));
    return ok ? 0 : 1;
}

int pluginLoad(const QString& path)
{
    QLoggingCategory::setFilterRules("oxlenpay.*=false\nstrova.*=false");
    QPluginLoader loader(QFileInfo(path).absoluteFilePath());
    QElapsedTimer timer;
    timer.start();
    if (!loader.load()) {
        std::fprintf(stderr, "%s\n", qPrintable(loader.errorString()));
        return 1;
    }
    const double loaded = milliseconds(timer);
    timer.restart();
    QObject* instance = loader.instance(); // builds the object; its client reads the settings
    const double built = milliseconds(timer);
    std::printf("plugin_load_ms %.3f\nplugin_instance_ms %.3f\n", loaded, built);
    return instance ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 4 && std::strcmp(argv[1], "--first-exchange") == 0) {
        return firstExchange(argv[2], argv[3]);
    }
    if (argc == 3 && std::strcmp(argv[1], "--plugin-load") == 0) {
        return pluginLoad(argv[2]);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
