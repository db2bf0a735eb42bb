// The registration's names and its TXT record, byte for byte.

#include "advertiser/ServiceRecord.h"
#include "support/FakeHost.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

const QString family = QString::fromUtf8("\U0001F468\u200D\U0001F469\u200D\U0001F467\u200D\U0001F466"); // 25 bytes

TEST(ServiceRecord, NamesCutAtCharactersTxtBytesAndAnEmptyRecordWhenEncodingFails)
{
    const QString accented = QString::fromUtf8("e\u0301"), flag = QString::fromUtf8("\U0001F1E8\U0001F1F3");
    const std::pair<std::optional<QString>, QString> cases[] = {
        {std::nullopt, "Mac Charles"}, {"我的电脑", "我的电脑"}, {QString(41, 'x'), QString(40, 'x')},
        {accented.repeated(45), accented.repeated(40)}, {flag.repeated(41), flag.repeated(31)}, // 31 x 8 bytes fit
        {family.repeated(40), family.repeated(10)}, // 1000 bytes: the 10 that fit 250
    };
    for (const auto &[host, expected] : cases)
        EXPECT_EQ(ServiceRecord::displayName(host), expected);
    EXPECT_EQ(ServiceRecord::instanceName("3F2504E0-4F89-41D3-9A0C-0305E82C3301"), "Quillfen-3F2504E0");
    EXPECT_EQ(ServiceRecord::instanceName(family.repeated(9) + "X"), "Quillfen-" + family.repeated(8));

    // The name entry is "name=" and 250 bytes: exactly one full TXT string.
    const QString id = QStringLiteral("3F2504E0-4F89-41D3-9A0C-0305E82C3301");
    EXPECT_EQ(NetService::dataFromTXTRecordDictionary(
                  ServiceRecord::txtDictionary(id, family.repeated(40), {"192.0.2.10", "2001:db8::10"})),
              "\x27id=" + id.toUtf8() + "\xffname=" + family.repeated(10).toUtf8() + "\x09version=1\x21"
                  "addresses=192.0.2.10,2001:db8::10");
    EXPECT_EQ(NetService::dataFromTXTRecordDictionary({{"", "x"}}), std::nullopt) << "a key is required";
    // An identifier too long for one TXT string empties the record, which is still published.
    FakePublisher publisher;
    const auto service = ServiceRecord::publish(publisher, 8888, {}, QString(300, 'A'), std::nullopt, nullptr);
    EXPECT_TRUE(publisher.latest().txt.isEmpty() && publisher.latest().published && publisher.latest().port == 8888);
}
