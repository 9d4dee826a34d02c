#pragma once

#include <QtGlobal>

// Enumerations of the host application that cross the processing boundary.
// Only their numeric values travel; the names are the host's own.

/// How an answer was paid.
enum EPaymentMethod : qint32 {
    PaymentMethodUnknown = 0,
    PaymentMethodCard = 1,
    PaymentMethodWallet = 2,
    PaymentMethodQrCode = 3,
};

/// Card brand of a card payment; wallet answers leave it at 0.
enum CardMark : qint32 {
    CardMarkUnknown = 0,
    CardMarkVisa = 1,
    CardMarkMasterCard = 2,
    CardMarkMir = 3,
};

namespace EPaymentProcessingOption {
/// Legacy processing options, stored as bits: a value may cover several bits.
enum Option : qint32 {
    NoOptions = 0x0000,
    PaymentByScannedCode = 0x0010,
    EnqueuedMessages = 0x0020,
    WithoutCardReader = 0x4000,
    ScannedCodeWithoutCardReader = 0x4010,
};
} // namespace EPaymentProcessingOption

namespace processing {
/// Newer processing options: opaque ordered keys, never bits.
enum class Option : qint32 {
    PrintSlip = 1,
    FiscalLinkAfterSale = 2,
    ShowProgress = 3,
    ReconciliationOnShiftClose = 4,
};
} // namespace processing

namespace EPaymentProcessingInfo {
/// Texts a processing gives the host's dialogs.
enum MessageType : qint32 {
    DialogTitle = 0,
    DialogMessage = 1,
    DialogError = 2,
    DialogWaiting = 3,
    DialogCancel = 4,
};
} // namespace EPaymentProcessingInfo

namespace utils {
/// Tag that selects constructors meant for test harnesses; its value is never read.
struct ForMock {};
} // namespace utils
