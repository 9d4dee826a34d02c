// What one provider exchange costs on loopback TLS, through the plug-in's client,
// through RestClient and through a minimal libcurl program, and the client's local work.
//   build/bench/oxlenpay-bench            (a sandbox in this process)
//   bench/compare.sh build                (an external sandbox, curl beside; see README)
#include "config.h"
#include "interface.h"
#include "paymentprocessinganswer.h"
#include "paymentprocessingrequest.h"
#include "restclient.h"
#include "sandboxserver.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <curl/curl.h>

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
    QString rootUrl;   // "https://127.0.0.1:PORT"
    QByteArray caFile; // the sandbox's certificate
    QUrl statusUrl, paymentUrl;

private:
    Bench()
    {
        QLoggingCategory::setFilterRules("oxlenpay.info=false\nstrova.*=false");
        // OXLENPAY_BENCH_SANDBOX (a root URL) and OXLENPAY_BENCH_CA name a sandbox of
        // another process, so that curl can be measured against the same one.
        rootUrl = qEnvironmentVariable("OXLENPAY_BENCH_SANDBOX");
        caFile = qgetenv("OXLENPAY_BENCH_CA");
        if (rootUrl.isEmpty()) {
            sandbox::SandboxOptions options;
            options.tls = sandbox::SandboxOptions::Tls::SelfSigned;
            options.certificateOut = root.filePath("sandbox.pem");
            options.logRequests = false;
            server = std::make_unique<sandbox::SandboxServer>(options);
            QString error;
            server->start(&error);
            rootUrl = server->rootUrl();
            caFile = options.certificateOut.toUtf8();
        }
        RestClient::addTrustedCaFile(QString::fromUtf8(caFile));
        const QString conf = root.filePath("pomerin/cash/paysystems/oxlenpay/oxlenpay.conf");
        QDir().mkpath(QFileInfo(conf).absolutePath());
        QFile file(conf);
        file.open(QIODevice::WriteOnly);
        file.write("[OxlenPay]\nhost = " + rootUrl.toUtf8() +
                   "\nmerchantId = till-01\nmerchantServiceId = 5001\n"
                   "merchantServiceUserId = merchant-user\nmerchantSecretKey = sandbox-secret\n"
                   "frequency = 0\npayDuration = 1000\njournal = " +
                   root.filePath("journal.sqlite").toUtf8() + "\n");
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
        statusUrl = client.getUrl(oxlenpay::Interface::PaymentStatus);
        paymentUrl = client.getUrl(oxlenpay::Interface::Payment);
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
BENCHMARK(StatusPollKeptAlive)->Unit(benchmark::kMicrosecond);

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
BENCHMARK(PaymentOnFreshConnection)->Unit(benchmark::kMicrosecond);

QJsonObject paymentBody(int n)
{
    return {{"amount", 100},
            {"service_id", 5001},
            {"otp_data", "pending"},
            {"cashbox_code", "till-01"},
            {"transaction_id",
             QString("bench-rc-%1-%2").arg(QCoreApplication::applicationPid()).arg(n)}};
}

// A status poll through RestClient alone, a new client per request as the plug-in does.
void RestClientWarmStatus(benchmark::State& state)
{
    Bench& bench = Bench::instance();
    const QJsonDocument body(QJsonObject{{"service_id", 5001}, {"payment_id", bench.paymentId}});
    const auto headers = bench.client.getHeaders();
    for (auto _ : state) {
        RestClient client;
        client.setTimeout(10000);
        if (!client.send(2, bench.statusUrl, body, headers)) {
            state.SkipWithError("status poll failed");
            break;
        }
    }
}
BENCHMARK(RestClientWarmStatus)->Unit(benchmark::kMicrosecond);

void RestClientPaymentFresh(benchmark::State& state)
{
    Bench& bench = Bench::instance();
    const auto headers = bench.client.getHeaders();
    int n = 0;
    for (auto _ : state) {
        RestClient client;
        client.setTimeout(10000);
        if (!client.send(4, bench.paymentUrl, QJsonDocument(paymentBody(++n)), headers)) {
            state.SkipWithError("payment failed");
            break;
        }
    }
}
BENCHMARK(RestClientPaymentFresh)->Unit(benchmark::kMicrosecond);

// The floor: what a minimal libcurl program pays for the same exchanges.
struct MinimalCurl {
    CURL* curl = curl_easy_init();
    curl_slist* headers = nullptr;
    std::string answer;
    MinimalCurl(const QHash<QString, QString>& signedHeaders, const QByteArray& caFile)
    {
        for (auto it = signedHeaders.cbegin(); it != signedHeaders.cend(); ++it) {
            headers = curl_slist_append(headers, (it.key() + ": " + it.value()).toUtf8());
        }
        headers = curl_slist_append(headers, "Expect:");
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(curl, CURLOPT_CAINFO, caFile.constData());
        curl_easy_setopt(curl, CURLOPT_CAPATH, "/etc/ssl/certs");
        curl_easy_setopt(
            curl, CURLOPT_WRITEFUNCTION,
            +[](char*, size_t size, size_t n, void*) { return size * n; });
    }
    ~MinimalCurl()
    {
        curl_slist_free_all(headers);
        curl_easy_cleanup(curl);
    }
    bool perform(const QUrl& url, const QByteArray& body, const char* method)
    {
        const QByteArray text = url.toString().toUtf8();
        curl_easy_setopt(curl, CURLOPT_URL, text.constData());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.constData());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, long(body.size()));
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method);
        return curl_easy_perform(curl) == CURLE_OK;
    }
};

void LibcurlWarmStatus(benchmark::State& state)
{
    Bench& bench = Bench::instance();
    MinimalCurl curl(bench.client.getHeaders(), bench.caFile);
    const QByteArray body =
        QJsonDocument(QJsonObject{{"service_id", 5001}, {"payment_id", bench.paymentId}})
            .toJson(QJsonDocument::Compact);
    for (auto _ : state) {
        if (!curl.perform(bench.statusUrl, body, "GET")) {
            state.SkipWithError("status poll failed");
            break;
        }
    }
}
BENCHMARK(LibcurlWarmStatus)->Unit(benchmark::kMicrosecond);

// The floor of our policy: libcurl alone, but a fresh easy handle per exchange on one multi
// and one share, as RestClient runs it. Between this and LibcurlWarmStatus is what the fresh
// handle costs; between this and RestClientWarmStatus, what RestClient adds.
void LibcurlFreshHandleWarmStatus(benchmark::State& state)
{
    Bench& bench = Bench::instance();
    const auto signedHeaders = bench.client.getHeaders();
    const QByteArray body =
        QJsonDocument(QJsonObject{{"service_id", 5001}, {"payment_id", bench.paymentId}})
            .toJson(QJsonDocument::Compact);
    CURLM* multi = curl_multi_init();
    CURLSH* share = curl_share_init();
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    for (auto _ : state) {
        MinimalCurl curl(signedHeaders, bench.caFile);
        curl_easy_setopt(curl.curl, CURLOPT_SHARE, share);
        const QByteArray url = bench.statusUrl.toString().toUtf8();
        curl_easy_setopt(curl.curl, CURLOPT_URL, url.constData());
        curl_easy_setopt(curl.curl, CURLOPT_POSTFIELDS, body.constData());
        curl_easy_setopt(curl.curl, CURLOPT_POSTFIELDSIZE, long(body.size()));
        curl_easy_setopt(curl.curl, CURLOPT_CUSTOMREQUEST, "GET");
        curl_multi_add_handle(multi, curl.curl);
        int running = 1;
        while (running) {
            curl_multi_perform(multi, &running);
            if (running) {
                curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
            }
        }
        curl_multi_remove_handle(multi, curl.curl);
    }
    curl_multi_cleanup(multi);
    curl_share_cleanup(share);
}
BENCHMARK(LibcurlFreshHandleWarmStatus)->Unit(benchmark::kMicrosecond);

// A fresh handle per payment, as a program that never re-sends a payment would do.
void LibcurlPaymentFresh(benchmark::State& state)
{
    Bench& bench = Bench::instance();
    const auto headers = bench.client.getHeaders();
    int n = 100000;
    for (auto _ : state) {
        MinimalCurl curl(headers, bench.caFile);
        curl_easy_setopt(curl.curl, CURLOPT_FRESH_CONNECT, 1L);
        if (!curl.perform(bench.paymentUrl,
                          QJsonDocument(paymentBody(++n)).toJson(QJsonDocument::Compact), "POST")) {
            state.SkipWithError("payment failed");
            break;
        }
    }
}
BENCHMARK(LibcurlPaymentFresh)->Unit(benchmark::kMicrosecond);

// Status requests per second against a sandbox that already holds range(0) payments:
// a long-lived sandbox must answer as fast as a fresh one. Plain HTTP on loopback, so
// that the sandbox's own work is what varies.
void SandboxStatusAtLedgerSize(benchmark::State& state)
{
    Bench& bench = Bench::instance();
    sandbox::SandboxOptions options;
    options.logRequests = false;
    sandbox::SandboxServer server(options);
    QString error;
    if (!server.start(&error)) {
        state.SkipWithError(qPrintable(error));
        return;
    }
    QHash<QString, QString> headers;
    const auto signedHeaders = bench.client.getHeaders();
    for (auto it = signedHeaders.cbegin(); it != signedHeaders.cend(); ++it) {
        headers.insert(it.key().toLower(), it.value());
    }
    const QString path = options.basePath + "/payment";
    QString last;
    for (int n = 0; n <= state.range(0); ++n) {
        const sandbox::Delivery made = server.api().handle(
            {"POST", path, headers, QJsonDocument(paymentBody(n)).toJson(QJsonDocument::Compact)});
        last = QJsonDocument::fromJson(made.body).object().value("payment_id").toString();
    }
    MinimalCurl curl(signedHeaders, QByteArray());
    const QByteArray body = QJsonDocument(QJsonObject{{"service_id", 5001}, {"payment_id", last}})
                                .toJson(QJsonDocument::Compact);
    const QUrl url(server.baseUrl() + "/payment/status");
    for (auto _ : state) {
        if (!curl.perform(url, body, "GET")) {
            state.SkipWithError("status request failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(SandboxStatusAtLedgerSize)
    ->Arg(0)
    ->Arg(25000)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

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
