#pragma once

#include "interface.h"

#include <QString>
#include <QStringList>

namespace oxlenpay {

/// The texts the client tells a host, by key. A result carries only its `tr::Tr`, so the
/// key is found again by comparing that text with these: a result built by a host's test
/// double is read the same way as one of ours.
namespace messages {

/// The text of `key`; "%1" in it stands for `paymentId`.
tr::Tr text(const char* key, const QString& paymentId = QString());
/// Sets `result`'s message to the text of `key`.
void set(Interface::RequestResult* result, const char* key, const QString& paymentId = QString());
/// The provider's own words: the key "undefined".
void setProviderText(Interface::RequestResult* result, const QString& providerText);

/// A provider's text as the journal keeps it: at most MaxProviderTextBytes of UTF-8, cut
/// at a code point and followed by " […]". The host's answer keeps the whole text.
QString capped(const QString& providerText);
constexpr int MaxProviderTextBytes = 4096;

/// Every key of the texts above.
QStringList keys();

/// The key of `result`'s message: empty when it has none, "undefined" for the provider's
/// own words, "transportFailed" for any text the client did not choose (the host's REST
/// client chose it). Texts naming a payment are compared with the result's payment id.
QString keyOf(const Interface::RequestResult& result);

} // namespace messages

} // namespace oxlenpay
