// The registration's names and its TXT record, byte for byte.

#include "advertiser/ServiceRecord.h"
#include "support/FakeHost.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

const QString accented = QString::fromUtf8("e\u0301"); // e + combining acute
const QString flag = QString::fromUtf8("\U0001F1E8\U0001F1F3");
const QString family = QString::fromUtf8("\U0001F468\u200D\U0001F469\u200D\U0001F467\u200D\U0001F466"); // 25 bytes

TEST(ServiceRecord, NamesCutAtCharactersAndToFitOneTxtString)
{
    const std::pair<std::optional<QString>, QString> cases[] = {
        {std::nullopt, "Mac Charles"}, {"我的电脑", "我的电脑"}, {QString(41, 'x'), QString(40, 'x')},
        {accented.repeated(45), accented.repeated(40)}, {flag.repeated(41), flag.repeated(31)}, // 31 x 8 bytes fit
        {family.repeated(40), family.repeated(10)}, // 1000 bytes: the 10 that fit 250
    };
    for (const auto &[host, expected] : cases)
        EXPECT_EQ(ServiceRecord::displayName(host), expected);
    EXPECT_EQ(ServiceRecord::instanceName("3F2504E0-4F89-41D3-9A0C-0305E82C3301"), "Quillfen-3F2504E0");
    EXPECT_EQ(ServiceRecord::instanceName("AB12C"), "Quillfen-AB12C");
    EXPECT_EQ(ServiceRecord::instanceName(family.repeated(9) + "X"), "Quillfen-" + family.repeated(8));
}

TEST(ServiceRecord, PublishedWithItsTxtBytesOrAnEmptyRecordWhenEncodingFails)
{
    FakePublisher publisher;
    const QString id = QStringLiteral("3F2504E0-4F89-41D3-9A0C-0305E82C3301");
    // The name entry is "name=" and 250 bytes: exactly one full TXT string.
    const auto service = ServiceRecord::publish(publisher, 8888, {"192.0.2.10", "2001:db8::10"}, id,
                                                family.repeated(40), nullptr);
    const FakeServiceRecord &fake = publisher.latest();
    EXPECT_EQ(service.get(), fake.service);
    EXPECT_EQ(std::tie(fake.domain, fake.type, fake.name, fake.port),
              std::make_tuple("local.", "_quillfen._tcp.", "Quillfen-3F2504E0", 8888));
    EXPECT_TRUE(fake.published);
    EXPECT_EQ(fake.txt, "\x27id=" + id.toUtf8() + "\xffname=" + family.repeated(10).toUtf8()
                            + "\x09version=1\x21" "addresses=192.0.2.10,2001:db8::10");

    // An identifier too long for one TXT string empties the record, which is still published.
    const auto second = ServiceRecord::publish(publisher, 1, {"192.0.2.10"}, QString(300, 'A'), std::nullopt, nullptr);
    EXPECT_EQ(publisher.latest().txt, QByteArray());
    EXPECT_TRUE(publisher.latest().published);
    EXPECT_EQ(NetService::dataFromTXTRecordDictionary({{"", "x"}}), std::nullopt) << "a key is required";
}
