#include "curlexchange.h"

#include "restclient.h"
#include "restoperation.h"
#include "trustedcertificates.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>

namespace {

struct Transfer {
    CurlExchange* exchange;
    bool headerSeen = false;
    bool tooLarge = false;
};

size_t onBody(char* data, size_t size, size_t count, void* user)
{
    auto* transfer = static_cast<Transfer*>(user);
    const size_t bytes = size * count;
    if (transfer->exchange->answer.size() + qint64(bytes) > transfer->exchange->maxAnswerBytes) {
        transfer->tooLarge = true;
        return 0; // aborts the transfer
    }
    transfer->exchange->answer.append(data, int(bytes));
    return bytes;
}

size_t onHeader(char*, size_t size, size_t count, void* user)
{
    static_cast<Transfer*>(user)->headerSeen = true;
    return size * count;
}

CURLcode onSslContext(CURL*, void* sslContext, void*)
{
    trustedcertificates::addToSslContext(sslContext);
    return CURLE_OK;
}

struct EasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;

struct SlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

// The calling thread's handle, reset for each request.
CURL* keptAliveHandle()
{
    thread_local EasyHandle handle(curl_easy_init());
    curl_easy_reset(handle.get()); // keeps the live connections
    return handle.get();
}

bool isIdempotent(int operation)
{
    // Unknown codes go out as POST, so only the named non-POST operations count.
    switch (static_cast<RestOperation>(operation)) {
    case RestOperation::Head:
    case RestOperation::Get:
    case RestOperation::Put:
    case RestOperation::Delete:
        return true;
    default:
        return false;
    }
}

} // namespace

int curlErrorKind(int curlCode)
{
    switch (curlCode) {
    case CURLE_OK:
        return RestClient::NoError;
    case CURLE_COULDNT_CONNECT:
        return RestClient::ConnectFailed;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return RestClient::HostNotFound;
    case CURLE_OPERATION_TIMEDOUT:
        return RestClient::Timeout;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
        return RestClient::TlsFailed;
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_PARTIAL_FILE:
        return RestClient::ConnectionLost;
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
        return RestClient::InvalidUrl;
    default:
        return RestClient::OtherFailure;
    }
}

void CurlExchange::perform()
{
    static std::once_flag initialised;
    std::call_once(initialised, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

    // One handle per thread keeps libcurl's caches (CA store, DNS, sessions) warm;
    // whether a connection may be reused is decided per request.
    CURL* curl = keptAliveHandle();
    if (!isIdempotent(operation)) {
        curl_easy_setopt(curl, CURLOPT_FRESH_CONNECT, 1L);
        curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, 1L);
    }

    Transfer transfer{this};
    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, long(timeoutMs > 0 ? timeoutMs : 1));
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, long(timeoutMs > 0 ? timeoutMs : 1));
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(curl, CURLOPT_SSL_CTX_FUNCTION, onSslContext);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer);

    static const char* const methods[] = {"", "HEAD", "GET", "PUT", "POST", "DELETE"};
    const char* method = operation >= 1 && operation <= 5 ? methods[operation] : "POST";
    if (operation == restOperationCode(RestOperation::Head)) {
        curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    } else {
        // Every other method carries the JSON document as its body, GET included.
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.constData());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(body.size()));
        if (operation != restOperationCode(RestOperation::Post)) {
            curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method);
        }
    }

    std::unique_ptr<curl_slist, SlistDeleter> headerList;
    auto addHeader = [&](const QByteArray& line) {
        headerList.reset(curl_slist_append(headerList.release(), line.constData()));
    };
    bool hasContentType = false;
    for (auto it = headers.cbegin(); it != headers.cend(); ++it) {
        hasContentType |= it.key().compare("Content-Type", Qt::CaseInsensitive) == 0;
        addHeader(it.key().toUtf8() + ": " + it.value().toUtf8());
    }
    if (!hasContentType && operation != restOperationCode(RestOperation::Head)) {
        addHeader("Content-Type: application/json");
    }
    addHeader("Expect:"); // no 100-continue round trip
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headerList.get());

    char errorBuffer[CURL_ERROR_SIZE] = {0};
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorBuffer);

    const CURLcode code = curl_easy_perform(curl);

    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_off_t uploaded = 0;
    curl_easy_getinfo(curl, CURLINFO_SIZE_UPLOAD_T, &uploaded);
    httpStatus = int(status);

    if (code == CURLE_OK) {
        error = RestClient::NoError;
    } else if (transfer.tooLarge) {
        error = RestClient::AnswerTooLarge;
    } else {
        error = curlErrorKind(code);
        uploadedButAborted = !transfer.headerSeen && uploaded >= curl_off_t(body.size()) &&
                             error != RestClient::TlsFailed && error != RestClient::ConnectFailed &&
                             error != RestClient::HostNotFound && error != RestClient::InvalidUrl;
        detail = QString::fromUtf8(errorBuffer[0] ? errorBuffer : curl_easy_strerror(code));
    }
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);
}
