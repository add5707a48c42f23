#include "KivoCore/support/Numbers.h"
#include "KivoCore/support/Text.h"
#include "support/QtPrinters.h"

#include <QLocale>
#include <clocale>
#include <cstdio>
#include <gtest/gtest.h>

using namespace kivo;

TEST(StrictInteger, AcceptsOnlyASignAndDigitsWithinRange)
{
    EXPECT_EQ(parseStrictInteger(QStringLiteral("00014074000")), 14074000);
    EXPECT_EQ(parseStrictInteger(QStringLiteral("+5")), 5);
    EXPECT_EQ(parseStrictInteger(QStringLiteral("-5")), -5);
    EXPECT_EQ(parseStrictInteger(QStringLiteral("-9223372036854775808")), std::numeric_limits<qint64>::min());
    for (const char *bad : {"", "+", "-", " 5", "5 ", "1.0", "1e3", "9223372036854775808", "0x10", "--5", "５"})
        EXPECT_FALSE(parseStrictInteger(QString::fromUtf8(bad)).has_value()) << bad;
}

TEST(Decimal, ReadsPlainAndExponentFormsAndFlagsOverflow)
{
    EXPECT_DOUBLE_EQ(*parseDecimal(QStringLiteral("14.074")), 14.074);
    EXPECT_DOUBLE_EQ(*parseDecimal(QStringLiteral("+5")), 5.0);
    EXPECT_DOUBLE_EQ(*parseDecimal(QStringLiteral("-7.5")), -7.5);
    EXPECT_TRUE(std::isinf(*parseDecimal(QStringLiteral("1e400"))));
    EXPECT_EQ(*parseDecimal(QStringLiteral("1e-400")), 0.0);
    EXPECT_FALSE(parseDecimal(QStringLiteral("14,074")).has_value());
    EXPECT_FALSE(parseDecimal(QStringLiteral("")).has_value());
    EXPECT_FALSE(roundedToInt64(1e300).has_value());
    EXPECT_FALSE(roundedToInt64(std::nan("")).has_value());
    EXPECT_EQ(roundedToInt64(14074000.5), 14074001);
    EXPECT_EQ(roundedToInt64(-2.5), -3);
}

TEST(Formatting, PadsAndFixesDecimals)
{
    EXPECT_EQ(zeroPadded(14074000, 11), QStringLiteral("00014074000"));
    EXPECT_EQ(zeroPadded(123456789012, 11), QStringLiteral("123456789012"));
    EXPECT_EQ(zeroPadded(-5, 3), QStringLiteral("-05"));
    EXPECT_EQ(formatFixed(14.074, 6), QStringLiteral("14.074000"));
    EXPECT_EQ(formatFixed(7.0745, 1), QStringLiteral("7.1"));
}

// A German desktop must not turn protocol numbers into "14,074000".
TEST(Formatting, IgnoresACommaLocale)
{
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const char *cLocale = std::setlocale(LC_ALL, "de_DE.UTF-8");
    if (!cLocale)
        GTEST_SKIP() << "the de_DE.UTF-8 locale is not installed";
    char trap[16];
    std::snprintf(trap, sizeof trap, "%.1f", 1.5);
    ASSERT_STREQ(trap, "1,5"); // the trap is real here
    EXPECT_EQ(formatFixed(14.074, 6), QStringLiteral("14.074000"));
    EXPECT_DOUBLE_EQ(*parseDecimal(QStringLiteral("14.074")), 14.074);
    EXPECT_FALSE(parseDecimal(QStringLiteral("14,074")).has_value());
    EXPECT_EQ(zeroPadded(14074000, 11), QStringLiteral("00014074000"));
    std::setlocale(LC_ALL, "C");
    QLocale::setDefault(previous);
}

TEST(Text, TrimsUnicodeBlanksAndSanitisesForCommandLines)
{
    EXPECT_EQ(trimmed(QStringLiteral("\r\n\t FA \u00a0\n")), QStringLiteral("FA"));
    EXPECT_EQ(sanitizedASCII(QStringLiteral("73 | good sig \U0001F600"), 96), QStringLiteral("73   good sig"));
    EXPECT_EQ(sanitizedASCII(QStringLiteral("  \t "), 32, QStringLiteral("RUMlogNG")), QStringLiteral("RUMlogNG"));
    EXPECT_EQ(sanitizedASCII(QString(200, QLatin1Char('a')), 96).size(), 96);
    EXPECT_EQ(sanitizedASCII(QStringLiteral("CQ\r\nspot add"), 96), QStringLiteral("CQ  spot add"));
}
