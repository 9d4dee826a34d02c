#include "paymentprocessinganswer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

TEST(PaymentProcessingAnswer, DefaultIsAnEmptyFailure)
{
    const PaymentProcessingAnswer answer;
    EXPECT_FALSE(answer.isSuccess());
    EXPECT_EQ(answer.getStatus(), PaymentProcessingAnswer::Error);
    EXPECT_EQ(answer.getCode(), 0);
    EXPECT_TRUE(answer.getMessage().isEmpty());
    EXPECT_EQ(answer.getSum(), 0.0);
    EXPECT_EQ(answer.getBalance(), 0.0);
    EXPECT_EQ(answer.getPaymentMethod(), 0);
    EXPECT_EQ(answer.getCardMark(), 0);
    EXPECT_EQ(answer.getTerminalNumber(), 0);
    for (const QString& text :
         {answer.getCardType(), answer.getCardNumber(), answer.getAuthorizationCode(),
          answer.getRRN(), answer.getPosName(), answer.getDiscCardNumber(),
          answer.getHashedCardNumber(), answer.getQrCode(), answer.getTerminalId(),
          answer.getAdditionalData()}) {
        EXPECT_TRUE(text.isNull());
    }
    EXPECT_TRUE(answer.getPrintImages().isEmpty());
    EXPECT_TRUE(answer.getLoyaltyCards().isEmpty());
    EXPECT_TRUE(answer.getAdditionalInfo().isEmpty());
}

TEST(PaymentProcessingAnswer, SuccessAndStatusAreOneMember)
{
    PaymentProcessingAnswer answer;
    answer.setSuccess(true);
    EXPECT_EQ(answer.getStatus(), PaymentProcessingAnswer::Success);
    answer.setSuccess(false);
    EXPECT_EQ(answer.getStatus(), PaymentProcessingAnswer::Error);
    answer.setStatus(PaymentProcessingAnswer::Status(2));
    EXPECT_EQ(answer.getStatus(), 2);
    EXPECT_FALSE(answer.isSuccess());
    answer.setStatus(PaymentProcessingAnswer::Success);
    EXPECT_TRUE(answer.isSuccess());
}

PaymentProcessingAnswer filledAnswer()
{
    PaymentProcessingAnswer answer;
    answer.setCode(7);
    answer.setMessage(tr::Tr("key", "текст"));
    answer.setSuccess(true);
    answer.setPrintImages({"a.png"});
    answer.setTerminalNumber(3);
    answer.setCardType("wallet");
    answer.setCardNumber("****1234");
    answer.setAuthorizationCode("A1");
    answer.setRRN("rrn-1");
    answer.setSum(15.5);
    answer.setPosName("pos");
    answer.setBalance(1.25);
    answer.setDiscCardNumber("disc");
    answer.setLoyaltyCards({"l1", "l2"});
    answer.setHashedCardNumber("hash");
    answer.setCardMark(CardMarkMir);
    answer.setQrCode("qr");
    answer.setPaymentMethod(PaymentMethodWallet);
    answer.setAdditionalInfo({{"rrn", "rrn-1"}, {"valutCode", 398}});
    answer.setTerminalId("42");
    answer.setAdditionalData("extra");
    return answer;
}

TEST(PaymentProcessingAnswer, EqualityIgnoresOnlyQrCodeAndTerminalId)
{
    const PaymentProcessingAnswer base = filledAnswer();
    EXPECT_EQ(base, filledAnswer());

    PaymentProcessingAnswer other = base;
    other.setQrCode("another");
    other.setTerminalId("another");
    EXPECT_EQ(base, other);

    using Mutation = void (*)(PaymentProcessingAnswer&);
    const Mutation mutations[] = {
        [](PaymentProcessingAnswer& a) { a.setCode(8); },
        [](PaymentProcessingAnswer& a) { a.setMessage(tr::Tr("key", "другой")); },
        [](PaymentProcessingAnswer& a) { a.setSuccess(false); },
        [](PaymentProcessingAnswer& a) { a.setPrintImages({"b.png"}); },
        [](PaymentProcessingAnswer& a) { a.setTerminalNumber(4); },
        [](PaymentProcessingAnswer& a) { a.setCardType("card"); },
        [](PaymentProcessingAnswer& a) { a.setCardNumber("x"); },
        [](PaymentProcessingAnswer& a) { a.setAuthorizationCode("x"); },
        [](PaymentProcessingAnswer& a) { a.setRRN("x"); },
        [](PaymentProcessingAnswer& a) { a.setSum(15.51); },
        [](PaymentProcessingAnswer& a) { a.setPosName("x"); },
        [](PaymentProcessingAnswer& a) { a.setBalance(2); },
        [](PaymentProcessingAnswer& a) { a.setDiscCardNumber("x"); },
        [](PaymentProcessingAnswer& a) {
            a.setLoyaltyCards({"l2", "l1"});
        },
        [](PaymentProcessingAnswer& a) { a.setHashedCardNumber("x"); },
        [](PaymentProcessingAnswer& a) { a.setCardMark(CardMarkVisa); },
        [](PaymentProcessingAnswer& a) { a.setPaymentMethod(PaymentMethodCard); },
        [](PaymentProcessingAnswer& a) {
            a.setAdditionalInfo({{"rrn", "rrn-1"}});
        },
        [](PaymentProcessingAnswer& a) { a.setAdditionalData("other"); },
    };
    for (size_t i = 0; i < std::size(mutations); ++i) {
        PaymentProcessingAnswer changed = base;
        mutations[i](changed);
        EXPECT_FALSE(base == changed) << "mutation " << i;
        EXPECT_TRUE(base != changed) << "mutation " << i;
    }
}

TEST(PaymentProcessingAnswer, EqualityFollowsValueRules)
{
    PaymentProcessingAnswer nan;
    nan.setSum(std::numeric_limits<double>::quiet_NaN());
    const PaymentProcessingAnswer copy = nan;
    EXPECT_FALSE(nan == copy);
    EXPECT_FALSE(nan == nan);

    PaymentProcessingAnswer nanBalance;
    nanBalance.setBalance(std::nan(""));
    EXPECT_FALSE(nanBalance == PaymentProcessingAnswer(nanBalance));

    PaymentProcessingAnswer zero, negativeZero;
    zero.setSum(0.0);
    negativeZero.setSum(-0.0);
    EXPECT_EQ(zero, negativeZero);

    PaymentProcessingAnswer nullText, emptyText;
    emptyText.setRRN(QString(""));
    EXPECT_EQ(nullText, emptyText);
    emptyText.setRRN("RRN");
    PaymentProcessingAnswer lower;
    lower.setRRN("rrn");
    EXPECT_NE(emptyText, lower);

    PaymentProcessingAnswer forwards, backwards;
    QMap<QString, QVariant> a, b;
    a.insert("x", 1);
    a.insert("y", "two");
    b.insert("y", "two");
    b.insert("x", 1);
    forwards.setAdditionalInfo(a);
    backwards.setAdditionalInfo(b);
    EXPECT_EQ(forwards, backwards);
}

TEST(PaymentProcessingAnswer, CopyAndMoveKeepEveryMember)
{
    const PaymentProcessingAnswer original = filledAnswer();
    PaymentProcessingAnswer source = original;
    PaymentProcessingAnswer target;
    target = std::move(source);
    EXPECT_EQ(target, original);
    EXPECT_EQ(target.getQrCode(), "qr");
    EXPECT_EQ(target.getTerminalId(), "42");

    PaymentProcessingAnswer constructed(std::move(target));
    EXPECT_EQ(constructed, original);

    PaymentProcessingAnswer copy = constructed;
    copy.setRRN("changed");
    EXPECT_EQ(constructed.getRRN(), "rrn-1");
}

} // namespace
