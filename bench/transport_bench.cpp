// What one provider exchange costs on loopback TLS, and the client's local work.
//   build/bench/oxlenpay-bench
#include "config.h"
#include "interface.h"
#include "paymentprocessinganswer.h"
#include "paymentprocessingrequest.h"
#include "restclient.h"
#include "sandboxserver.h"

#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

// A client configured for a sandbox started once for the whole run.
class Bench {
public:
    static Bench& instance()
    {
        static Bench bench;
        return bench;
    }

    oxlenpay::Interface client;
    QString paymentId;

private:
    Bench()
    {
        QLoggingCategory::setFilterRules("oxlenpay.info=false\nstrova.*=false");
        sandbox::SandboxOptions options;
        options.tls = sandbox::SandboxOptions::Tls::SelfSigned;
        options.certificateOut = root.filePath("sandbox.pem");
        options.logRequests = false;
        server = std::make_unique<sandbox::SandboxServer>(options);
        QString error;
        server->start(&error);
        RestClient::addTrustedCaFile(options.certificateOut);
        const QString conf = root.filePath("pomerin/cash/paysystems/oxlenpay/oxlenpay.conf");
        QDir().mkpath(QFileInfo(conf).absolutePath());
        QFile file(conf);
        file.open(QIODevice::WriteOnly);
        file.write("[OxlenPay]\nhost = " + server->rootUrl().toUtf8() +
                   "\nmerchantId = till-01\nmerchantServiceId = 5001\n"
                   "merchantServiceUserId = merchant-user\nmerchantSecretKey = sandbox-secret\n"
                   "frequency = 0\npayDuration = 1000\n");
        file.close();
        qputenv("STROVA_ROOT", root.path().toUtf8());
        client.init();
        PaymentProcessingRequest sale;
        sale.sum = 1500;
        sale.token = "pending";
        paymentId = client
                        .sendRequest(oxlenpay::Interface::Payment, {{"amount", 1500},
                                                                    {"service_id", 5001},
                                                                    {"otp_data", "pending"},
                                                                    {"cashbox_code", "till-01"},
                                                                    {"transaction_id", "bench"}})
                        .getRrn();
    }

    QTemporaryDir root;
    std::unique_ptr<sandbox::SandboxServer> server;
};

void StatusPollKeptAlive(benchmark::State& state)
{
    Bench& bench = Bench::instance();
    const QJsonObject body{{"service_id", 5001}, {"payment_id", bench.paymentId}};
    for (auto _ : state) {
        auto result = bench.client.sendRequest(oxlenpay::Interface::PaymentStatus, body);
        if (!result.success) {
            state.SkipWithError("status poll failed");
            break;
        }
    }
}
BENCHMARK(StatusPollKeptAlive)->Unit(benchmark::kMillisecond);

void PaymentOnFreshConnection(benchmark::State& state)
{
    Bench& bench = Bench::instance();
    int n = 0;
    for (auto _ : state) {
        auto result = bench.client.sendRequest(oxlenpay::Interface::Payment,
                                               {{"amount", 100},
                                                {"service_id", 5001},
                                                {"otp_data", "pending"},
                                                {"cashbox_code", "till-01"},
                                                {"transaction_id", QString("bench-%1").arg(++n)}});
        if (!result.success) {
            state.SkipWithError("payment failed");
            break;
        }
    }
}
BENCHMARK(PaymentOnFreshConnection)->Unit(benchmark::kMillisecond);

void SignedHeaders(benchmark::State& state)
{
    Bench& bench = Bench::instance();
    for (auto _ : state) {
        benchmark::DoNotOptimize(bench.client.getHeaders());
    }
}
BENCHMARK(SignedHeaders);

void RequestUrl(benchmark::State& state)
{
    Bench& bench = Bench::instance();
    for (auto _ : state) {
        benchmark::DoNotOptimize(bench.client.getUrl(oxlenpay::Interface::PaymentStatus));
    }
}
BENCHMARK(RequestUrl);

void AnswerEquality(benchmark::State& state)
{
    PaymentProcessingAnswer a;
    a.setRRN("100000000001");
    a.setAdditionalInfo({{"rrn", "100000000001"},
                         {"phone", "+77010000001"},
                         {"valutCode", 398},
                         {"paymentProvider", 161}});
    const PaymentProcessingAnswer b = a;
    for (auto _ : state) {
        benchmark::DoNotOptimize(a == b);
    }
}
BENCHMARK(AnswerEquality);

} // namespace

BENCHMARK_MAIN();
