// The registration's names and its TXT record, byte for byte.

#include "advertiser/ServiceRecord.h"
#include "support/FakeHost.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

namespace {

QString repeat(const QString &character, int times)
{
    QString text;
    for (int i = 0; i < times; ++i)
        text += character;
    return text;
}

const QString accented = QString::fromUtf8("e\u0301");                    // e + combining acute
const QString family = QString::fromUtf8("\U0001F468\u200D\U0001F469\u200D\U0001F467\u200D\U0001F466"); // 25 bytes
const QString flag = QString::fromUtf8("\U0001F1E8\U0001F1F3");
const QString stacked = QString::fromUtf8("a\u0301\u0302\u0303\u0304\u0305"); // 11 bytes

TEST(ServiceRecord, DisplayNameCutsAtCharacters)
{
    const struct
    {
        const char *label;
        std::optional<QString> host;
        QString expected;
    } cases[] = {
        {"absent", std::nullopt, "Mac Charles"},
        {"short", QString("我的电脑"), "我的电脑"},
        {"exactly 40", repeat("x", 40), repeat("x", 40)},
        {"41 cut to 40", repeat("x", 41), repeat("x", 40)},
        {"combining marks kept whole", repeat(accented, 45), repeat(accented, 40)},
        {"flags kept whole, then fit (31 x 8 bytes)", repeat(flag, 41), repeat(flag, 31)},
        {"accents under the byte bound", repeat(accented, 41) , repeat(accented, 40)},
        // 40 families are 1000 bytes: cut further to the 10 that fit 250 bytes.
        {"emoji sequences fit one TXT string", repeat(family, 40), repeat(family, 10)},
        {"stacked marks fit one TXT string", repeat(stacked, 40), repeat(stacked, 22)},
    };
    for (const auto &c : cases) {
        const QString name = ServiceRecord::displayName(c.host);
        EXPECT_EQ(name, c.expected) << c.label;
        EXPECT_LE(name.toUtf8().size() + 5, 255) << c.label;
    }
}

TEST(ServiceRecord, InstanceNames)
{
    const struct
    {
        QString id;
        QString expected;
    } cases[] = {
        {"3F2504E0-4F89-41D3-9A0C-0305E82C3301", "Quillfen-3F2504E0"},
        {"AB12C", "Quillfen-AB12C"},
        {"", "Quillfen-"},
        {repeat(family, 9) + "X", "Quillfen-" + repeat(family, 8)},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ServiceRecord::instanceName(c.id), c.expected);
}

TEST(ServiceRecord, TxtRecordBytes)
{
    const QString id = QStringLiteral("3F2504E0-4F89-41D3-9A0C-0305E82C3301");
    const struct
    {
        QStringList addresses;
        QByteArray addressEntry;
    } cases[] = {
        {{"192.0.2.10"}, "addresses=192.0.2.10"},
        {{"192.0.2.10", "198.51.100.7", "2001:db8::10"}, "addresses=192.0.2.10,198.51.100.7,2001:db8::10"},
    };
    for (const auto &c : cases) {
        const std::optional<QByteArray> txt =
            NetService::dataFromTXTRecordDictionary(ServiceRecord::txtDictionary(id, QString("Mac"), c.addresses));
        ASSERT_TRUE(txt);
        const QByteArray expected = QByteArray("\x27") + "id=" + id.toUtf8() + "\x08name=Mac" + "\x09version=1"
            + char(c.addressEntry.size()) + c.addressEntry;
        EXPECT_EQ(*txt, expected);
    }
}

TEST(TxtRecord, LengthLimitAndEmptyKey)
{
    const QByteArray fits(251, 'v'); // "key=" + 251 = 255
    EXPECT_TRUE(NetService::dataFromTXTRecordDictionary({{"key", fits}}));
    EXPECT_EQ(NetService::dataFromTXTRecordDictionary({{"key", fits}})->size(), 256);
    EXPECT_FALSE(NetService::dataFromTXTRecordDictionary({{"key", fits + 'v'}}));
    EXPECT_FALSE(NetService::dataFromTXTRecordDictionary({{"", "x"}}));
    EXPECT_EQ(NetService::dataFromTXTRecordDictionary({}), QByteArray());
}

TEST(ServiceRecord, PublishStepInOrderAndEmptyTxtWhenEncodingFails)
{
    FakePublisher publisher;
    struct : NetServiceDelegate
    {
        void netServiceDidPublish(NetService *) override {}
        void netServiceDidNotPublish(NetService *, const ErrorDictionary &) override {}
    } delegate;
    const std::unique_ptr<NetService> service = ServiceRecord::publish(
        publisher, 8888, {"192.0.2.10"}, QStringLiteral("ABCDEFGH-1"), QString("Mac"), &delegate);
    FakeServiceRecord &fake = publisher.latest();
    EXPECT_EQ(service.get(), fake.service);
    EXPECT_EQ(fake.name, QStringLiteral("Quillfen-ABCDEFGH"));
    EXPECT_EQ(fake.port, 8888);
    EXPECT_EQ(fake.delegate, &delegate);
    EXPECT_TRUE(fake.published);
    EXPECT_TRUE(fake.txt.contains("addresses=192.0.2.10"));

    // An identifier too long for one TXT string empties the record, which is
    // still published.
    const std::unique_ptr<NetService> second =
        ServiceRecord::publish(publisher, 1, {"192.0.2.10"}, QString(300, 'A'), std::nullopt, &delegate);
    EXPECT_EQ(publisher.latest().txt, QByteArray());
    EXPECT_TRUE(publisher.latest().published);
}

} // namespace
