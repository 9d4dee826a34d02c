#pragma once

// The plug-in's configuration: where it lives, its keys and their defaults.
// The client, the till and the demo all read them from here.
namespace oxlenpay::settings {

/// The plug-in's configuration file on a shop's till (relocatable with $STROVA_ROOT).
inline constexpr const char* ConfigPath = "/pomerin/cash/paysystems/oxlenpay/oxlenpay.conf";

inline constexpr const char* Host = "OxlenPay:host";
inline constexpr const char* Path = "OxlenPay:path";
inline constexpr const char* MerchantId = "OxlenPay:merchantId";
inline constexpr const char* MerchantServiceId = "OxlenPay:merchantServiceId";
inline constexpr const char* MerchantServiceUserId = "OxlenPay:merchantServiceUserId";
inline constexpr const char* MerchantSecretKey = "OxlenPay:merchantSecretKey";
inline constexpr const char* Timeout = "OxlenPay:timeout";
inline constexpr const char* Frequency = "OxlenPay:frequency";
inline constexpr const char* PayDuration = "OxlenPay:payDuration";
inline constexpr const char* PaymentProvider = "OxlenPay:paymentProvider";
/// The payment journal's database file, used as written; empty turns it off.
inline constexpr const char* Journal = "OxlenPay:journal";
/// Closed journal entries older than this many days are removed when the journal opens.
inline constexpr const char* JournalDays = "OxlenPay:journalDays";
/// 1: a sale whose outcome is still open when the wait ends is reversed; 0: left as it is.
inline constexpr const char* ReverseUnknown = "OxlenPay:reverseUnknown";

inline constexpr const char* DefaultHost = "https://api.oxlenpay.example";
inline constexpr const char* DefaultPath = "/api/quindo-pay/merchant";
inline constexpr int DefaultTimeoutMs = 10000;
inline constexpr int DefaultFrequencyMs = 10000;
inline constexpr int DefaultPayDurationMs = 300000;
inline constexpr int DefaultPaymentProvider = 161;
inline constexpr int DefaultReverseUnknown = 1;
/// The first place of a journal no `journal` line names: beside the configuration file.
inline constexpr const char* DefaultJournal = "/pomerin/cash/paysystems/oxlenpay/journal.sqlite";
/// What reading the `journal` key gives when the file has no such line: no text a person
/// would write.
inline constexpr const char* JournalNotConfigured = "\x01none";
inline constexpr int DefaultJournalDays = 90;

/// Below this polling period a setting only makes sense in tests.
inline constexpr int SmallestRealFrequencyMs = 500;
/// The close-out's wait for "REVERSED" never takes longer than this.
inline constexpr int CloseOutLimitMs = 60000;
/// `recover` never takes longer than this, for all entries.
inline constexpr int RecoveryLimitMs = 30000;
/// How long a journal write waits for another process's transaction.
inline constexpr int JournalBusyMs = 5000;
/// Recovery in a wait's idle time: no exchange longer than this, so an interrupt is never
/// held up for long, and none at all when less idle time than the floor is left.
inline constexpr int IdleRecoveryExchangeMs = 1000;
inline constexpr int IdleRecoveryFloorMs = 100;
/// Idle-time recovery looks at one row again only after this long.
inline constexpr int IdleRecoveryRetryMs = 60000;

} // namespace oxlenpay::settings
