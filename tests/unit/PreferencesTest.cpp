// The preferences file: what is stored comes back, also across a fresh
// open, and a folder or file that cannot be used never crashes, hangs or
// passes for success.

#include "platform/Preferences.h"
#include "support/QtPrinters.h"
#include "support/TemporaryConfigHome.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace {

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

TEST(Preferences, ValuesComeBackAsStored)
{
    TemporaryConfigHome config;
    EXPECT_EQ(Preferences::filePath(), config.path() + QStringLiteral("/QuillfenMac.conf"));
    EXPECT_EQ(Preferences::stringForKey(Preferences::machineIdKey), std::nullopt);
    EXPECT_EQ(Preferences::integerForKey(Preferences::proxyPortKey), 0) << "absent reads as 0";

    const QString strings[] = {QStringLiteral("0F8E2C55-6D0B-4C8B-9B1E-2A7C3D4E5F60"), QString(),
                               QStringLiteral("lower-case id"), QStringLiteral("带中文 ; = [x] \"q\" #c"),
                               QStringLiteral(" spaces around ")};
    for (const QString &value : strings) {
        SCOPED_TRACE(value.toStdString());
        ASSERT_TRUE(Preferences::setString(Preferences::machineIdKey, value));
        const std::optional<QString> back = Preferences::stringForKey(Preferences::machineIdKey);
        ASSERT_TRUE(back) << "an empty string is stored, not absent";
        EXPECT_EQ(*back, value);
    }
    for (const qint64 value : {qint64(8888), qint64(1), qint64(65535), qint64(-5), qint64(0),
                               std::numeric_limits<qint64>::max(), std::numeric_limits<qint64>::min()}) {
        SCOPED_TRACE(value);
        ASSERT_TRUE(Preferences::setInteger(Preferences::proxyPortKey, value));
        EXPECT_EQ(Preferences::integerForKey(Preferences::proxyPortKey), value);
    }
    // The two keys live side by side.
    EXPECT_EQ(Preferences::stringForKey(Preferences::machineIdKey), QStringLiteral(" spaces around "));
}

TEST(Preferences, MissingFolderIsCreated)
{
    TemporaryConfigHome config;
    const QString nested = config.path() + QStringLiteral("/not/yet/there");
    qputenv("XDG_CONFIG_HOME", nested.toUtf8());
    EXPECT_TRUE(Preferences::setInteger(Preferences::proxyPortKey, 9999));
    EXPECT_TRUE(QFile::exists(nested + QStringLiteral("/QuillfenMac.conf")));
    EXPECT_EQ(Preferences::integerForKey(Preferences::proxyPortKey), 9999);
}

TEST(Preferences, RelativeOrEmptyConfigHomeFallsBackToHome)
{
    TemporaryConfigHome config;
    for (const char *value : {"", "relative/dir"}) {
        qputenv("XDG_CONFIG_HOME", value);
        EXPECT_EQ(Preferences::filePath(), QDir::homePath() + QStringLiteral("/.config/QuillfenMac.conf")) << value;
    }
}

TEST(Preferences, UnusableLocationsFailWithoutCrashing)
{
    TemporaryConfigHome config;
    // The folder's place is taken by a regular file.
    writeFile(config.path() + QStringLiteral("/file"), "x");
    qputenv("XDG_CONFIG_HOME", (config.path() + QStringLiteral("/file")).toUtf8());
    EXPECT_FALSE(Preferences::setString(Preferences::machineIdKey, QStringLiteral("A")));
    EXPECT_FALSE(Preferences::setInteger(Preferences::proxyPortKey, 8888));
    EXPECT_EQ(Preferences::stringForKey(Preferences::machineIdKey), std::nullopt);
    EXPECT_EQ(Preferences::integerForKey(Preferences::proxyPortKey), 0);

    // The file's place is taken by a folder.
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    ASSERT_TRUE(QDir().mkpath(config.path() + QStringLiteral("/QuillfenMac.conf")));
    EXPECT_FALSE(Preferences::setInteger(Preferences::proxyPortKey, 8888));
    EXPECT_EQ(Preferences::integerForKey(Preferences::proxyPortKey), 0);
}

TEST(Preferences, UnreadableOrGarbageFilesReadAsAbsent)
{
    struct Case
    {
        const char *name;
        QByteArray contents;
        std::optional<QString> id;
        qint64 port;
    };
    const Case cases[] = {
        {"empty", QByteArray(), std::nullopt, 0},
        {"binary", QByteArray("\x00\xff\xfe\x01\x02[\x00=\n\x7f", 10), std::nullopt, 0},
        {"port not a number", "[General]\nQuillfen.proxyPort=eighty\n", std::nullopt, 0},
        {"port with a fraction", "[General]\nQuillfen.proxyPort=8888.5\n", std::nullopt, 0},
        {"another section only", "[Other]\nQuillfen.proxyPort=1234\n", std::nullopt, 0},
        {"well formed", "[General]\nQuillfen.machineID=ABC\nQuillfen.proxyPort=9999\n", QStringLiteral("ABC"), 9999},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TemporaryConfigHome config;
        writeFile(Preferences::filePath(), c.contents);
        EXPECT_EQ(Preferences::stringForKey(Preferences::machineIdKey), c.id);
        EXPECT_EQ(Preferences::integerForKey(Preferences::proxyPortKey), c.port);
    }

    // A garbage file is replaced on the next write, and the write says so.
    {
        TemporaryConfigHome config;
        writeFile(Preferences::filePath(), QByteArray("\x00\xff\xfe\x01\x02[\x00=\n\x7f", 10));
        EXPECT_TRUE(Preferences::setString(Preferences::machineIdKey, QStringLiteral("ABC")));
        EXPECT_EQ(Preferences::stringForKey(Preferences::machineIdKey), QStringLiteral("ABC"));
    }

    if (geteuid() == 0)
        return; // root reads files whatever their mode
    TemporaryConfigHome config;
    writeFile(Preferences::filePath(), "[General]\nQuillfen.proxyPort=9999\n");
    QFile::setPermissions(Preferences::filePath(), QFile::WriteOwner);
    EXPECT_EQ(Preferences::integerForKey(Preferences::proxyPortKey), 0);
}

} // namespace
