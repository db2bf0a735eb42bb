#include "advertiser/StatusText.h"

#include <QStringList>

namespace StatusText {

QString waitingForPort(qint64 port)
{
    return QStringLiteral("等待 Charles 开启 HTTP 代理端口 ") + QString::number(port);
}

QString publishing(qint64 port)
{
    return QStringLiteral("正在发布设备发现信息 · Charles :") + QString::number(port);
}

QString published(qint64 port)
{
    return QStringLiteral("可被 iPhone 发现 · Charles :") + QString::number(port);
}

QString publishFailed(const ErrorDictionary &error)
{
    return QStringLiteral("设备发现发布失败，请检查本地网络权限（") + renderErrorDictionary(error)
        + QStringLiteral("）");
}

QString renderErrorDictionary(const ErrorDictionary &error)
{
    if (error.empty())
        return QStringLiteral("[:]");
    QStringList entries;
    for (const auto &[key, value] : error)
        entries << QLatin1Char('"') + key + QStringLiteral("\": ") + QString::number(value);
    return QLatin1Char('[') + entries.join(QStringLiteral(", ")) + QLatin1Char(']');
}

} // namespace StatusText
