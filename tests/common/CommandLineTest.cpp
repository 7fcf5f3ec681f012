#include "CommandLine.h"

#include <gtest/gtest.h>

TEST(ArgumentText, quotesRemovedByAShellArePutBack)
{
    EXPECT_EQ(ArgumentText({QStringLiteral("ZULprog=/opt/a b/ZUL.accdr"), QStringLiteral("ZULdata=/d/x.accdb"),
                            QStringLiteral("zobrazZpravu=TRUE")}),
              QStringLiteral("ZULprog=\"/opt/a b/ZUL.accdr\" ZULdata=\"/d/x.accdb\" zobrazZpravu=TRUE"));
    // Quotes the caller kept stay as they are; an empty value becomes "".
    EXPECT_EQ(ArgumentText({QStringLiteral("ZULprog=\"/x\""), QStringLiteral("ZULdata=")}),
              QStringLiteral("ZULprog=\"/x\" ZULdata=\"\""));
    EXPECT_EQ(ArgumentText({}), QString());
    // Other arguments, and keys in the middle of an argument, are left alone.
    EXPECT_EQ(ArgumentText({QStringLiteral("xZULprog=/a"), QStringLiteral("NoDataPath")}),
              QStringLiteral("xZULprog=/a NoDataPath"));
}

TEST(KeyValue, wellFormedKeysInAnyOrder)
{
    const QString text = QStringLiteral("zobrazZpravu=TRUE ZULdata=\"/d/a b.accdb\";ZULprog=\"/p/ZUL.accdr\"");
    EXPECT_EQ(KeyValue(text, CommandKey::ZulProg), QStringLiteral("/p/ZUL.accdr"));
    EXPECT_EQ(KeyValue(text, CommandKey::ZulData), QStringLiteral("/d/a b.accdb"));
    EXPECT_TRUE(HasKey(text, CommandKey::ShowMessage));
}

TEST(KeyValue, malformedValues)
{
    // Without an opening quote the first character is lost and the value runs
    // to the next double quote anywhere later.
    EXPECT_EQ(KeyValue(QStringLiteral("ZULprog=/p/ZUL.accdr ZULdata=\"/d.accdb\""), CommandKey::ZulProg),
              QStringLiteral("p/ZUL.accdr ZULdata="));
    EXPECT_EQ(KeyValue(QStringLiteral("ZULprog=/p/ZUL.accdr"), CommandKey::ZulProg), QString());
    EXPECT_EQ(KeyValue(QStringLiteral("ZULprog=\"/p/ZUL.accdr"), CommandKey::ZulProg), QString());
    EXPECT_EQ(KeyValue(QStringLiteral("ZULprog=\"\" ZULdata=\"/x\""), CommandKey::ZulProg), QString());
    EXPECT_EQ(KeyValue(QStringLiteral("ZULprog="), CommandKey::ZulProg), QString());
    // The first occurrence wins.
    EXPECT_EQ(KeyValue(QStringLiteral("ZULdata=\"/a\" ZULdata=\"/b\""), CommandKey::ZulData), QStringLiteral("/a"));
}

TEST(KeyValue, keysAreCaseSensitive)
{
    EXPECT_FALSE(HasKey(QStringLiteral("zobrazZpravu=true"), CommandKey::ShowMessage));
    EXPECT_FALSE(HasKey(QStringLiteral("zulprog=\"/x\""), CommandKey::ZulProg));
    EXPECT_EQ(KeyValue(QStringLiteral("zulprog=\"/x\""), CommandKey::ZulProg), QString());
    EXPECT_TRUE(HasKey(QStringLiteral("xxNoDataPathyy"), CommandKey::NoDataPath));
}
