#include "app/SafeJson.h"

#include <QJsonArray>
#include <QString>

#include <algorithm>
#include <string_view>
#include <vector>

namespace {

// A key of an object, as a place in the document: no copy per key, so that a
// body of many keys costs a few bytes each before it is refused or parsed.
struct Key
{
    int offset = 0;     // of its opening double quote
    int length = 0;     // between the double quotes
    int unescaped = -1; // index of its unescaped UTF-8 form, -1: the bytes are the key
};

struct Level
{
    bool object = false;
    bool expectingKey = false;
    std::vector<Key> keys;
};

class KeyScan
{
public:
    explicit KeyScan(const QByteArray& json)
        : m_json(json)
    {}

    void add(Level& level, int offset, int end)
    {
        Key key{offset, end - offset - 1, -1};
        if (std::find(m_json.constData() + offset, m_json.constData() + end, '\\') != m_json.constData() + end) {
            // As the parser compares it: unescaped. An array of one string holds no object, so this parse cannot leak.
            const QByteArray token = m_json.mid(offset, end - offset + 1);
            m_unescaped.push_back(QJsonDocument::fromJson('[' + token + ']').array().at(0).toString().toUtf8());
            key.unescaped = int(m_unescaped.size()) - 1;
        }
        level.keys.push_back(key);
    }

    // The offset of a key that repeats an earlier one of the object, or -1. Keys
    // that are not valid UTF-8 compare as their bytes: the parser refuses them anyway.
    int repeated(std::vector<Key>& keys) const
    {
        const auto bytes = [this](const Key& key) {
            if (key.unescaped >= 0)
                return std::string_view(m_unescaped[key.unescaped].constData(), m_unescaped[key.unescaped].size());
            return std::string_view(m_json.constData() + key.offset + 1, key.length);
        };
        std::sort(keys.begin(), keys.end(), [&](const Key& a, const Key& b) {
            const int order = bytes(a).compare(bytes(b));
            return order < 0 || (order == 0 && a.offset < b.offset);
        });
        int found = -1;
        for (size_t i = 1; i < keys.size(); ++i) {
            if (bytes(keys[i - 1]) == bytes(keys[i]) && (found < 0 || keys[i].offset < found))
                found = keys[i].offset;
        }
        return found;
    }

private:
    const QByteArray& m_json;
    std::vector<QByteArray> m_unescaped;
};

} // namespace

int SafeJson::refusedOffset(const QByteArray& json, QJsonParseError::ParseError* why)
{
    if (why)
        *why = QJsonParseError::NoError;
    KeyScan scan(json);
    std::vector<Level> levels;
    // Where the scan ends without a refusal: the parser may have inserted keys of
    // objects still open before it meets the end, so those are checked too.
    const auto openObjectsRepeat = [&]() {
        for (Level& level : levels) {
            const int at = level.object ? scan.repeated(level.keys) : -1;
            if (at >= 0) {
                if (why)
                    *why = QJsonParseError::IllegalValue;
                return at;
            }
        }
        return -1;
    };
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
                return openObjectsRepeat(); // unterminated: the parser refuses it at this place
            if (!levels.empty() && levels.back().object && levels.back().expectingKey) {
                levels.back().expectingKey = false;
                scan.add(levels.back(), at, end);
            }
            at = end;
        } else if (c == '{' || c == '[' || c == ',') {
            if (++values > maxValues) {
                if (why)
                    *why = QJsonParseError::DocumentTooLarge;
                return at;
            }
            if (c == ',') {
                if (!levels.empty() && levels.back().object)
                    levels.back().expectingKey = true;
            } else if (int(levels.size()) == maxDepth) {
                if (why)
                    *why = QJsonParseError::DeepNesting;
                return at;
            } else {
                levels.push_back(Level{c == '{', c == '{', {}});
            }
        } else if ((c == '}' || c == ']') && !levels.empty()) {
            const int repeated = levels.back().object ? scan.repeated(levels.back().keys) : -1;
            if (repeated >= 0) {
                if (why)
                    *why = QJsonParseError::IllegalValue;
                return repeated;
            }
            levels.pop_back();
        }
    }
    return openObjectsRepeat();
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
