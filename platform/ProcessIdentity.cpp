#include "platform/ProcessIdentity.h"

#include <QFileInfo>

namespace ProcessIdentity {

std::optional<QString> applicationIdFromUnit(const QString &unit)
{
    if (!unit.startsWith(QLatin1String("app-")))
        return std::nullopt;
    QString name = unit.mid(4);
    if (name.endsWith(QLatin1String(".service"))) {
        name.chop(8);
        if (const qsizetype at = name.indexOf(QLatin1Char('@')); at >= 0)
            name.truncate(at);
    } else if (name.endsWith(QLatin1String(".scope"))) {
        name.chop(6);
        const qsizetype dash = name.lastIndexOf(QLatin1Char('-'));
        if (dash < 0)
            return std::nullopt;
        name.truncate(dash);
    } else {
        return std::nullopt;
    }
    // The id has its own dashes escaped, so it is whatever follows the last
    // raw dash (the launcher, when there is one, comes before it).
    const QString escaped = name.mid(name.lastIndexOf(QLatin1Char('-')) + 1);
    QByteArray id;
    const QByteArray bytes = escaped.toUtf8();
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\\' && i + 3 < bytes.size() && bytes[i + 1] == 'x') {
            bool ok = false;
            const int value = bytes.mid(i + 2, 2).toInt(&ok, 16);
            if (ok) {
                id += char(value);
                i += 3;
                continue;
            }
        }
        id += bytes[i];
    }
    if (id.isEmpty())
        return std::nullopt;
    return QString::fromUtf8(id);
}

std::optional<QString> charlesIdentifier(const QStringList &arguments)
{
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("com.xk72.charles.gui.MainWithClassLoader"))
            return QStringLiteral("com.xk72.Charles");
        if (arguments[i] == QLatin1String("-jar") && i + 1 < arguments.size()
            && QFileInfo(arguments[i + 1]).fileName() == QLatin1String("charles.jar"))
            return QStringLiteral("com.xk72.Charles");
    }
    return std::nullopt;
}

namespace {

bool isScriptInterpreter(const QString &name)
{
    static const QStringList exact = {QStringLiteral("sh"), QStringLiteral("bash"), QStringLiteral("dash"),
                                      QStringLiteral("zsh"), QStringLiteral("perl"), QStringLiteral("ruby"),
                                      QStringLiteral("node")};
    return exact.contains(name) || name.startsWith(QLatin1String("python"));
}

} // namespace

std::optional<QString> interpretedProgram(const QString &executable, const QStringList &arguments)
{
    const qsizetype jar = arguments.indexOf(QStringLiteral("-jar"));
    if (jar >= 0 && jar + 1 < arguments.size())
        return arguments[jar + 1];
    if (!isScriptInterpreter(QFileInfo(executable).fileName()))
        return std::nullopt;
    // The first argument after the interpreter's own options; "-c" runs a
    // command text, not a file.
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        if (argument == QLatin1String("-c"))
            return std::nullopt;
        if (argument == QLatin1String("--"))
            return i + 1 < arguments.size() ? std::optional<QString>(arguments[i + 1]) : std::nullopt;
        if (!argument.startsWith(QLatin1Char('-')))
            return argument;
    }
    return std::nullopt;
}

std::optional<QString> enclosingBundle(const QString &path)
{
    // Each folder above the file, innermost first, cut out of the path itself
    // rather than through QFileInfo: this runs for every process of the user
    // in every cycle.
    qsizetype end = path.lastIndexOf(QLatin1Char('/'));
    while (end > 0) {
        const QStringView folder = QStringView(path).left(end);
        if (folder.endsWith(QLatin1String(".app")))
            return folder.toString();
        end = path.lastIndexOf(QLatin1Char('/'), end - 1);
    }
    return std::nullopt;
}

} // namespace ProcessIdentity
