#include "platform/ProcessIdentity.h"

#include <QFileInfo>

#include <utility>

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

namespace {

bool isScriptInterpreter(const QString &name)
{
    static const QStringList exact = {QStringLiteral("sh"), QStringLiteral("bash"), QStringLiteral("dash"),
                                      QStringLiteral("zsh"), QStringLiteral("perl"), QStringLiteral("ruby"),
                                      QStringLiteral("node")};
    return exact.contains(name) || name.startsWith(QLatin1String("python"));
}

QStringView fileName(QStringView path)
{
    return path.mid(path.lastIndexOf(u'/') + 1);
}

bool isJavaVm(const QString &executable, const QStringList &arguments)
{
    // The executable for a VM started under another argv[0], argv[0] for one
    // whose executable cannot be read.
    return fileName(executable) == u"java" || (!arguments.isEmpty() && fileName(arguments.first()) == u"java");
}

// The main program of a Java VM, found the way the java launcher reads its
// command line: options up to the first word that names the program to run;
// everything after that word belongs to the program, not to the VM.
struct JavaMain
{
    enum class Kind { Class, Jar, Module } kind;
    QString name;
};

std::optional<JavaMain> javaMain(const QStringList &arguments)
{
    // The launcher's options whose value is the next word, which is never
    // the main program however it looks.
    static const QStringList takesValue = {
        QStringLiteral("-cp"), QStringLiteral("-classpath"), QStringLiteral("--class-path"),
        QStringLiteral("-p"), QStringLiteral("--module-path"), QStringLiteral("--upgrade-module-path"),
        QStringLiteral("--add-modules"), QStringLiteral("--limit-modules"), QStringLiteral("--add-exports"),
        QStringLiteral("--add-opens"), QStringLiteral("--add-reads"), QStringLiteral("--patch-module"),
        QStringLiteral("--enable-native-access"), QStringLiteral("-d"), QStringLiteral("--describe-module"),
        QStringLiteral("--source")};
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        const std::optional<QString> next =
            i + 1 < arguments.size() ? std::optional<QString>(arguments[i + 1]) : std::nullopt;
        if (argument == QLatin1String("-jar"))
            return next ? std::optional<JavaMain>({JavaMain::Kind::Jar, *next}) : std::nullopt;
        if (argument == QLatin1String("-m") || argument == QLatin1String("--module"))
            return next ? std::optional<JavaMain>({JavaMain::Kind::Module, *next}) : std::nullopt;
        if (argument.startsWith(QLatin1String("--module=")))
            return JavaMain{JavaMain::Kind::Module, argument.mid(9)};
        if (takesValue.contains(argument))
            ++i;
        else if (!argument.startsWith(QLatin1Char('-')) && !argument.startsWith(QLatin1Char('@')))
            return JavaMain{JavaMain::Kind::Class, argument};
        // Other options (-Xmx1024M, -Dname=value, --add-opens=value, ...) and
        // @argument files, which the VM reads itself, name no program.
    }
    return std::nullopt;
}

} // namespace

QStringList javaArgumentFileWords(const QByteArray &text)
{
    QStringList words;
    QByteArray word;
    bool inWord = false;
    char quote = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quote) {
            if (c == quote) {
                quote = 0;
            } else if (c == '\\' && i + 1 < text.size()) {
                const char next = text[++i];
                if (next == '\n' || next == '\r') { // continued: the next line without its indent
                    if (next == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                        ++i;
                    while (i + 1 < text.size() && (text[i + 1] == ' ' || text[i + 1] == '\t'))
                        ++i;
                } else {
                    word += next == 'n' ? '\n' : next == 't' ? '\t' : next == 'r' ? '\r' : next == 'f' ? '\f' : next;
                }
            } else {
                word += c;
            }
        } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f') {
            if (inWord)
                words << QString::fromLocal8Bit(std::exchange(word, {}));
            inWord = false;
        } else if (c == '#' && !inWord) {
            while (i + 1 < text.size() && text[i + 1] != '\n' && text[i + 1] != '\r')
                ++i;
        } else {
            inWord = true;
            if (c == '"' || c == '\'')
                quote = c;
            else
                word += c;
        }
    }
    if (inWord)
        words << QString::fromLocal8Bit(word);
    return words;
}

QStringList withJavaArgumentFiles(const QString &executable, const QStringList &arguments,
                                  const std::function<std::optional<QByteArray>(const QString &)> &readFile)
{
    if (!isJavaVm(executable, arguments))
        return arguments;
    QStringList expanded = arguments.mid(0, 1);
    bool expanding = true;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        if (argument == QLatin1String("--disable-@files"))
            expanding = false;
        if (!expanding || !argument.startsWith(QLatin1Char('@'))) {
            expanded << argument;
        } else if (argument.startsWith(QLatin1String("@@"))) {
            expanded << argument.mid(1);
        } else if (const std::optional<QByteArray> text = readFile(argument.mid(1))) {
            expanded << javaArgumentFileWords(*text);
        } else {
            expanded << argument;
        }
    }
    return expanded;
}

std::optional<QString> charlesIdentifier(const QString &executable, const QStringList &arguments)
{
    if (!isJavaVm(executable, arguments))
        return std::nullopt;
    const std::optional<JavaMain> main = javaMain(arguments);
    if (!main)
        return std::nullopt;
    bool charles = false;
    switch (main->kind) {
    case JavaMain::Kind::Jar: // 4.x, from its .deb or its tarball
        charles = fileName(main->name) == u"charles.jar";
        break;
    case JavaMain::Kind::Module: // 5.x: the module, with or without its main class
        charles = QStringView(main->name).left(main->name.indexOf(u'/')) == u"com.charlesproxy";
        break;
    case JavaMain::Kind::Class:
        charles = main->name == QLatin1String("com.xk72.charles.gui.MainWithClassLoader")
                  || main->name == QLatin1String("com.charlesproxy.main.MainWithClassLoader");
        break;
    }
    if (!charles)
        return std::nullopt;
    return QStringLiteral("com.xk72.Charles");
}

std::optional<QString> interpretedProgram(const QString &executable, const QStringList &arguments)
{
    if (isJavaVm(executable, arguments)) {
        const std::optional<JavaMain> main = javaMain(arguments);
        if (main && main->kind == JavaMain::Kind::Jar)
            return main->name;
        return std::nullopt;
    }
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
