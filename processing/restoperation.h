#pragma once

/// The operation codes RestClient::send takes: the values of
/// QNetworkAccessManager::Operation, named here so callers need not spell numbers.
enum class RestOperation : int {
    Head = 1,
    Get = 2,
    Put = 3,
    Post = 4,
    Delete = 5,
};

constexpr int restOperationCode(RestOperation operation)
{
    return static_cast<int>(operation);
}
