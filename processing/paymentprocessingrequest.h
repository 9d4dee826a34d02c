#pragma once

#include <QSharedPointer>
#include <QString>
#include <QtGlobal>

class AbstractDocument;

/// The host's request record, read by direct member access.
///
/// A processing reads type, sum, originalSum, rrn, token and currencyCode.
/// The members between them are carried by the host for other processings
/// (card terminals, loyalty) and are never read here.
struct PaymentProcessingRequest {
    enum Type : qint32 {
        Undefined = 0,
        Sale = 1,
        Cancel = 2,
        Refund = 3,
        Balance = 4,
    };

    Type type = Undefined;
    /// Amount of this operation, in hundredths of the currency unit.
    qint32 sum = 0;
    /// Amount of the earlier payment that a refund returns.
    qint32 originalSum = 0;

    // Host-only members.
    qint32 checkNumber = 0;
    QString merchantId;
    QString authorizationCode;

    /// Retrieval reference number of the payment that a cancel or refund reverses.
    QString rrn;
    /// One-time payment token scanned from the customer's wallet application.
    QString token;

    // Host-only members.
    QString cardNumber;
    QSharedPointer<AbstractDocument> document;

    /// Numeric currency code (ISO 4217).
    qint32 currencyCode = 0;
};
