#include "curlexchange.h"

#include "restclient.h"
#include "restoperation.h"
#include "trustedcertificates.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>

namespace {

struct Transfer {
    const CurlRequest* request;
    CurlResult* result;
    bool tooLarge = false;
};

size_t onBody(char* data, size_t size, size_t count, void* user)
{
    auto* transfer = static_cast<Transfer*>(user);
    const size_t bytes = size * count;
    if (transfer->result->answer.size() + qint64(bytes) > transfer->request->maxAnswerBytes) {
        transfer->tooLarge = true;
        return 0; // aborts the transfer
    }
    transfer->result->answer.append(data, int(bytes));
    return bytes;
}

CURLcode onSslContext(CURL*, void* sslContext, void*)
{
    return trustedcertificates::useStore(sslContext) ? CURLE_OK : CURLE_SSL_CACERT_BADFILE;
}

struct EasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct ShareDeleter {
    void operator()(CURLSH* share) const { curl_share_cleanup(share); }
};
struct MultiDeleter {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct SlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

// The calling thread's connections, TLS sessions and DNS answers. A fresh easy
// handle per exchange: libcurl 7.88 can read freed memory when a recycled handle
// meets a malformed answer, and a fresh one costs a few microseconds when the
// thread's multi handle runs it.
CURLSH* threadShare()
{
    thread_local std::unique_ptr<CURLSH, ShareDeleter> share([] {
        CURLSH* created = curl_share_init();
        curl_share_setopt(created, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
        curl_share_setopt(created, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
        curl_share_setopt(created, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
        return created;
    }());
    return share.get();
}

// The calling thread's multi handle, which runs every exchange. curl_easy_perform would
// make and destroy one per handle: a socket pair, its closing and signal handling on
// each exchange, most of what a fresh easy handle costs.
CURLM* threadMulti()
{
    thread_local std::unique_ptr<CURLM, MultiDeleter> multi(curl_multi_init());
    return multi.get();
}

// What curl_easy_perform does, on the thread's multi handle; the handle's own time-outs
// bound the wait.
CURLcode performOnThreadMulti(CURL* curl)
{
    CURLM* multi = threadMulti();
    if (!multi || curl_multi_add_handle(multi, curl) != CURLM_OK) {
        return CURLE_FAILED_INIT;
    }
    CURLcode code = CURLE_OK;
    bool done = false;
    while (!done) {
        int running = 0;
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            code = CURLE_RECV_ERROR;
            break;
        }
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
            if (message->msg == CURLMSG_DONE && message->easy_handle == curl) {
                code = message->data.result;
                done = true;
            }
        }
        if (!done && running == 0) {
            code = CURLE_GOT_NOTHING; // ended without saying how: never taken for success
            break;
        }
        if (!done && curl_multi_poll(multi, nullptr, 0, 1000, nullptr) != CURLM_OK) {
            code = CURLE_RECV_ERROR;
            break;
        }
    }
    curl_multi_remove_handle(multi, curl);
    return code;
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

// Failures that leave no doubt the request never reached the server's application.
bool failedBeforeSending(int error)
{
    return error == RestClient::TlsFailed || error == RestClient::ConnectFailed ||
           error == RestClient::HostNotFound || error == RestClient::InvalidUrl;
}

// Answers that arrived but could not be read as HTTP/1.x.
bool unreadableAnswer(CURLcode code)
{
    return code == CURLE_UNSUPPORTED_PROTOCOL || code == CURLE_WEIRD_SERVER_REPLY ||
           code == CURLE_HTTP2 || code == CURLE_HTTP2_STREAM ||
           code == CURLE_BAD_CONTENT_ENCODING || code == CURLE_RANGE_ERROR;
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
        return RestClient::InvalidUrl;
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_BAD_CONTENT_ENCODING:
        return RestClient::BadAnswer;
    default:
        return RestClient::OtherFailure;
    }
}

CurlResult performExchange(const CurlRequest& request)
{
    static std::once_flag initialised;
    std::call_once(initialised, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

    CurlResult result;
    const std::unique_ptr<CURL, EasyDeleter> handle(curl_easy_init());
    CURL* curl = handle.get();
    curl_easy_setopt(curl, CURLOPT_SHARE, threadShare());
    if (!isIdempotent(request.operation)) {
        curl_easy_setopt(curl, CURLOPT_FRESH_CONNECT, 1L);
        curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, 1L);
    }

    Transfer transfer{&request, &result};
    curl_easy_setopt(curl, CURLOPT_URL, request.url.constData());
    if (request.url.startsWith("http://")) {
        // Plain http is allowed only to this machine: never hand it, the signature and the
        // token to a proxy from http_proxy or ALL_PROXY. HTTPS through a proxy keeps its TLS.
        curl_easy_setopt(curl, CURLOPT_PROXY, "");
    }
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    const long timeout = long(request.timeoutMs > 0 ? request.timeoutMs : 1);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, timeout);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, timeout);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    // The trust store comes from onSslContext, built once per process; libcurl must
    // not read the system bundle again for every connection.
    curl_easy_setopt(curl, CURLOPT_CAINFO, nullptr);
    curl_easy_setopt(curl, CURLOPT_CAPATH, nullptr);
    curl_easy_setopt(curl, CURLOPT_SSL_CTX_FUNCTION, onSslContext);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);

    static const char* const methods[] = {"", "HEAD", "GET", "PUT", "POST", "DELETE"};
    const int operation = request.operation;
    const char* method = operation >= 1 && operation <= 5 ? methods[operation] : "POST";
    if (operation == restOperationCode(RestOperation::Head)) {
        curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    } else {
        // Every other method carries the JSON document as its body, GET included.
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.body.constData());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(request.body.size()));
        if (operation != restOperationCode(RestOperation::Post)) {
            curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method);
        }
    }

    std::unique_ptr<curl_slist, SlistDeleter> headerList;
    auto addHeader = [&](const QByteArray& line) {
        headerList.reset(curl_slist_append(headerList.release(), line.constData()));
    };
    bool hasContentType = false;
    for (auto it = request.headers.cbegin(); it != request.headers.cend(); ++it) {
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

    const CURLcode code = performOnThreadMulti(curl);

    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_off_t uploaded = 0;
    curl_easy_getinfo(curl, CURLINFO_SIZE_UPLOAD_T, &uploaded);
    long requestBytes = 0;
    curl_easy_getinfo(curl, CURLINFO_REQUEST_SIZE, &requestBytes);
    result.httpStatus = int(status);

    const bool requestSent = requestBytes > 0 && uploaded >= curl_off_t(request.body.size());
    result.requestSent = requestSent;
    if (code == CURLE_OK && (status < 100 || status > 599)) {
        // libcurl took something for a status line that names no HTTP status.
        result.error = RestClient::BadAnswer;
        result.uploadedButAborted = requestSent;
        result.detail = QString("answer with HTTP status %1").arg(status);
        return result;
    }
    if (code == CURLE_OK) {
        return result;
    }
    result.error = transfer.tooLarge ? RestClient::AnswerTooLarge : curlErrorKind(code);
    if (unreadableAnswer(code) && requestBytes == 0) {
        result.error = RestClient::InvalidUrl; // refused before anything went out
    }
    // Classified by what happened on the wire: once the whole request went out, any
    // end without a complete answer leaves the outcome with the server.
    if (requestSent && (code == CURLE_BAD_FUNCTION_ARGUMENT || code == CURLE_OUT_OF_MEMORY)) {
        // How libcurl 7.88 gives up on folded or oversized header lines.
        result.error = RestClient::BadAnswer;
    }
    result.uploadedButAborted = requestSent && !failedBeforeSending(result.error);
    result.detail = QString::fromUtf8(errorBuffer[0] ? errorBuffer : curl_easy_strerror(code));
    return result;
}
