// The preferences file: what is stored comes back, and a folder or file that
// cannot be used never crashes, hangs or passes for success.

#include "platform/Preferences.h"
#include "support/QtPrinters.h"
#include "support/TemporaryConfigHome.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using namespace Preferences;

TEST(Preferences, StoredValuesMissingFolderUnusableFolderAndGarbageFiles)
{
    TemporaryConfigHome config;
    qputenv("XDG_CONFIG_HOME", "relative/dir"); // not an absolute folder: the one in the home folder
    EXPECT_EQ(filePath(), QDir::homePath() + "/.config/QuillfenMac.conf");
    const auto write = [](const QString &path, const QByteArray &bytes) {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    };
    ASSERT_TRUE(write(config.path() + "/file", "x")); // the folder's place is taken by a file
    qputenv("XDG_CONFIG_HOME", (config.path() + "/file").toUtf8());
    EXPECT_FALSE(setString(machineIdKey, "A"));
    EXPECT_EQ(stringForKey(machineIdKey), std::nullopt);

    qputenv("XDG_CONFIG_HOME", (config.path() + "/not/yet/there").toUtf8());
    EXPECT_EQ(filePath(), config.path() + "/not/yet/there/QuillfenMac.conf");
    const auto stored = [] { return std::pair(stringForKey(machineIdKey), integerForKey(proxyPortKey)); };
    EXPECT_EQ(stored(), std::pair(std::optional<QString>(), 0ll));
    // An empty string is stored, not absent; the two keys live side by side.
    for (const auto &[text, number] : {std::pair<QString, qint64>{"0F8E2C55-6D0B-4C8B-9B1E-2A7C3D4E5F60", 8888},
                                       {"", INT64_MIN}, {" 带中文 ; = [x] \"q\" #c ", INT64_MAX}, {"A", -5}}) {
        ASSERT_TRUE(setString(machineIdKey, text) && setInteger(proxyPortKey, number));
        EXPECT_EQ(stored(), std::pair(std::optional(text), number));
    }

    // Files that cannot be read as settings read as absent. (Each differs in
    // size from the one before: QSettings may keep what it read from a file
    // of the same size and time.)
    const std::tuple<QByteArray, std::optional<QString>, qint64> files[] = {
        {"", {}, 0}, {"[Other]\nQuillfen.proxyPort=1234\n", {}, 0}, {"[General]\nQuillfen.proxyPort=eighty\n", {}, 0},
        {"[General]\nQuillfen.machineID=ABC\nQuillfen.proxyPort=9999\n", "ABC", 9999},
        {QByteArray("\x00\xff\xfe\x01\x02[\x00=\n\x7f", 10), {}, 0},
    };
    for (const auto &[contents, id, port] : files) {
        ASSERT_TRUE(write(filePath(), contents));
        EXPECT_EQ(stored(), std::pair(id, port)) << contents.toStdString();
    }
    EXPECT_TRUE(setString(machineIdKey, "B") && stringForKey(machineIdKey) == "B") << "garbage replaced, and said so";
}
