#pragma once

#include "platform/NetService.h"

#include <QString>

// Every status line the program shows. Ports are appended in plain decimal.
namespace StatusText {

inline const QString waitingForLaunch = QStringLiteral("等待 Charles 启动");
inline const QString proxyQuit = QStringLiteral("Charles 已关闭，等待重新启动。");
inline const QString noAddress = QStringLiteral("未找到可用的 Wi-Fi 或有线地址");

QString waitingForPort(qint64 port);
QString publishing(qint64 port);
QString published(qint64 port);
QString publishFailed(const ErrorDictionary &error);

// ["key": number, ...], or "[:]" for an empty dictionary.
QString renderErrorDictionary(const ErrorDictionary &error);

} // namespace StatusText
