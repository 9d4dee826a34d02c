#include "providerreply.h"

#include "messages.h"

namespace oxlenpay {

namespace {

struct StatusText {
    ProviderReply::Status status;
    const char* text;
};

constexpr StatusText StatusTexts[] = {
    {ProviderReply::Status::Pending, "PENDING"},
    {ProviderReply::Status::Success, "SUCCESS"},
    {ProviderReply::Status::Failed, "FAILED"},
    {ProviderReply::Status::Reversed, "REVERSED"},
    {ProviderReply::Status::PartialCancelled, "PARTIAL_CANCELLED"},
};

} // namespace

ProviderReply::Status ProviderReply::statusOf(const QString& text)
{
    if (text.isEmpty()) {
        return Status::None;
    }
    for (const StatusText& known : StatusTexts) {
        if (text == QLatin1String(known.text)) {
            return known.status;
        }
    }
    return Status::Other;
}

const char* ProviderReply::statusName(Status status)
{
    for (const StatusText& known : StatusTexts) {
        if (known.status == status) {
            return known.text;
        }
    }
    return status == Status::None ? "" : "other";
}

ProviderReply ProviderReply::of(const Interface::RequestResult& result)
{
    ProviderReply reply;
    reply.statusText = result.getPaymentStatus();
    reply.status = statusOf(reply.statusText);
    reply.paymentId = result.getRrn();
    reply.errorCode = result.errorCode;
    reply.text = result.data.value("error_message").toString();
    // No answer of the provider's own: at most the payment id a poll puts in.
    const bool bare =
        result.data.isEmpty() || (result.data.size() == 1 && result.data.contains("payment_id"));
    if (result.success && result.data.isEmpty()) {
        // A lost answer of a request that did not fail at once comes back as an empty success.
        reply.transport = Transport::LostAfterUpload;
    } else if (result.success || result.errorCode != 0 || !bare || !reply.statusText.isEmpty()) {
        reply.transport = Transport::Answered;
    } else if (result.message == messages::text("requestIncorrectAnswer")) {
        reply.transport = Transport::Unreadable;
    } else if (result.message == messages::text("requestUploadedButAborted")) {
        reply.transport = Transport::LostAfterUpload;
    } else {
        // The host's REST client failed, the settings name no address, or the journal
        // refused the operation: nothing reached the provider.
        reply.transport = Transport::LostBeforeSending;
    }
    return reply;
}

} // namespace oxlenpay
