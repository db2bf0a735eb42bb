#include "support/AvahiBrowseOutput.h"

#include <algorithm>

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// At text[i] == '\\': appends the escaped byte and moves i past the escape.
bool takeEscape(QByteArrayView text, qsizetype &i, QByteArray &out)
{
    if (i + 1 >= text.size())
        return false;
    const char next = text[i + 1];
    if (!isDigit(next)) {
        out.append(next);
        i += 2;
        return true;
    }
    if (i + 3 >= text.size() || !isDigit(text[i + 2]) || !isDigit(text[i + 3]))
        return false;
    const int value = (next - '0') * 100 + (text[i + 2] - '0') * 10 + (text[i + 3] - '0');
    if (value > 255)
        return false;
    out.append(char(value));
    i += 4;
    return true;
}

QList<QByteArrayView> splitFields(QByteArrayView line, int maxFields)
{
    QList<QByteArrayView> fields;
    qsizetype start = 0;
    while (fields.size() < maxFields - 1) {
        const qsizetype semicolon = line.indexOf(';', start);
        if (semicolon < 0)
            break;
        fields.append(line.sliced(start, semicolon - start));
        start = semicolon + 1;
    }
    fields.append(line.sliced(start));
    return fields;
}

} // namespace

std::optional<QByteArray> BrowsedService::txtValue(QByteArrayView key) const
{
    for (const QByteArray &entry : txt) {
        if (entry.size() > key.size() && entry.startsWith(key) && entry[key.size()] == '=')
            return entry.mid(key.size() + 1);
        if (entry == key)
            return QByteArray();
    }
    return std::nullopt;
}

std::optional<QByteArray> unescapeAvahiLabel(QByteArrayView escaped)
{
    QByteArray out;
    qsizetype i = 0;
    while (i < escaped.size()) {
        if (escaped[i] != '\\') {
            out.append(escaped[i++]);
            continue;
        }
        if (!takeEscape(escaped, i, out))
            return std::nullopt;
    }
    return out;
}

std::optional<QList<QByteArray>> parseAvahiTxtField(QByteArrayView field)
{
    QList<QByteArray> strings;
    qsizetype i = 0;
    while (i < field.size()) {
        if (!strings.isEmpty()) {
            if (field[i] != ' ')
                return std::nullopt;
            ++i;
        }
        if (i >= field.size() || field[i] != '"')
            return std::nullopt;
        ++i;
        QByteArray string;
        for (;;) {
            if (i >= field.size())
                return std::nullopt; // no closing quote
            const char c = field[i];
            if (c == '"') {
                ++i;
                break;
            }
            if (c == '\\') {
                if (!takeEscape(field, i, string))
                    return std::nullopt;
                continue;
            }
            string.append(c);
            ++i;
        }
        strings.append(string);
    }
    std::reverse(strings.begin(), strings.end());
    return strings;
}

std::optional<AvahiBrowseLine> parseAvahiBrowseLine(QByteArrayView line)
{
    while (!line.isEmpty() && (line.back() == '\n' || line.back() == '\r'))
        line.chop(1);
    if (line.size() < 2 || line[1] != ';')
        return std::nullopt;

    AvahiBrowseLine result;
    int fieldCount;
    switch (line[0]) {
    case '+':
        result.kind = AvahiBrowseLine::Kind::Added;
        fieldCount = 6;
        break;
    case '-':
        result.kind = AvahiBrowseLine::Kind::Removed;
        fieldCount = 6;
        break;
    case '=':
        result.kind = AvahiBrowseLine::Kind::Resolved;
        fieldCount = 10;
        break;
    default:
        return std::nullopt;
    }
    const QList<QByteArrayView> fields = splitFields(line, fieldCount);
    if (fields.size() != fieldCount)
        return std::nullopt;

    BrowsedService &service = result.service;
    service.interfaceName = QString::fromUtf8(fields[1]);
    service.protocol = QString::fromUtf8(fields[2]);
    const std::optional<QByteArray> name = unescapeAvahiLabel(fields[3]);
    if (!name)
        return std::nullopt;
    service.name = QString::fromUtf8(*name);
    service.type = QString::fromUtf8(fields[4]);
    service.domain = QString::fromUtf8(fields[5]);
    if (result.kind != AvahiBrowseLine::Kind::Resolved)
        return result;

    service.host = QString::fromUtf8(fields[6]);
    service.address = QString::fromUtf8(fields[7]);
    bool portOk = false;
    service.port = fields[8].toInt(&portOk);
    if (!portOk)
        return std::nullopt;
    std::optional<QList<QByteArray>> txt = parseAvahiTxtField(fields[9]);
    if (!txt)
        return std::nullopt;
    service.txt = *txt;
    return result;
}

QList<BrowsedService> parseResolvedServices(const QByteArray &output)
{
    QList<BrowsedService> services;
    for (const QByteArray &line : output.split('\n')) {
        const std::optional<AvahiBrowseLine> parsed = parseAvahiBrowseLine(line);
        if (parsed && parsed->kind == AvahiBrowseLine::Kind::Resolved)
            services.append(parsed->service);
    }
    return services;
}
