// The till's amount parser on arbitrary text. Invariants: an accepted amount is
// digits with at most two decimals and nothing else, greater than zero, and
// formatting it gives back the same number of hundredths.
#include "amount.h"

#include <cstdint>
#include <cstdlib>

namespace {

bool looksLikeAnAmount(const QString& text)
{
    int dot = -1;
    for (int i = 0; i < text.size(); ++i) {
        if (text[i] == '.' && dot < 0) {
            dot = i;
        } else if (text[i] < '0' || text[i] > '9') {
            return false;
        }
    }
    return dot != 0 && (dot < 0 || (text.size() - dot - 1 >= 1 && text.size() - dot - 1 <= 2));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), int(size));
    qint32 hundredths = 0;
    QString error;
    if (!till::parseAmount(text, &hundredths, &error)) {
        if (error.isEmpty()) {
            std::abort(); // a refusal without a reason
        }
        return 0;
    }
    qint32 again = 0;
    if (!looksLikeAnAmount(text) || hundredths <= 0 ||
        !till::parseAmount(till::formatAmount(hundredths), &again, &error) || again != hundredths) {
        std::abort();
    }
    return 0;
}
