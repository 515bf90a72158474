#include "app/SafeJson.h"

#include <QJsonArray>
#include <QSet>
#include <QString>
#include <QVector>

namespace {

struct Level
{
    bool object = false;
    bool expectingKey = false;
    QSet<QString> keys;
};

// A key as the parser compares it: unescaped.
QString keyText(const QByteArray& token)
{
    if (!token.contains('\\'))
        return QString::fromUtf8(token.constData() + 1, token.size() - 2);
    // An array of one string holds no object, so this parse cannot leak.
    return QJsonDocument::fromJson('[' + token + ']').array().at(0).toString();
}

} // namespace

int SafeJson::refusedOffset(const QByteArray& json, QJsonParseError::ParseError* why)
{
    if (why)
        *why = QJsonParseError::NoError;
    QVector<Level> levels;
    // Every value but the outermost follows an opening bracket or a comma.
    int values = 1;
    const int size = json.size();
    for (int at = 0; at < size; ++at) {
        const char c = json.at(at);
        if (c == '"') {
            int end = at + 1;
            while (end < size && json.at(end) != '"')
                end += json.at(end) == '\\' ? 2 : 1;
            if (end >= size)
                return -1; // unterminated: the parser refuses it anyway
            if (!levels.isEmpty() && levels.last().object && levels.last().expectingKey) {
                Level& level = levels.last();
                level.expectingKey = false;
                const QString key = keyText(json.mid(at, end - at + 1));
                if (level.keys.contains(key)) {
                    if (why)
                        *why = QJsonParseError::IllegalValue;
                    return at;
                }
                level.keys.insert(key);
            }
            at = end;
        } else if (c == '{' || c == '[' || c == ',') {
            if (++values > maxValues) {
                if (why)
                    *why = QJsonParseError::DocumentTooLarge;
                return at;
            }
            if (c == ',') {
                if (!levels.isEmpty() && levels.last().object)
                    levels.last().expectingKey = true;
            } else if (levels.size() == maxDepth) {
                if (why)
                    *why = QJsonParseError::DeepNesting;
                return at;
            } else {
                levels.append(Level{c == '{', c == '{', {}});
            }
        } else if ((c == '}' || c == ']') && !levels.isEmpty()) {
            levels.removeLast();
        }
    }
    return -1;
}

QJsonDocument SafeJson::parse(const QByteArray& json, QJsonParseError* error)
{
    QJsonParseError::ParseError why = QJsonParseError::NoError;
    const int refused = refusedOffset(json, &why);
    if (refused >= 0) {
        if (error) {
            error->offset = refused;
            error->error = why;
        }
        return QJsonDocument();
    }
    return QJsonDocument::fromJson(json, error);
}
