#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonParseError>

// JSON from the network. Qt 5.15's parser loses (never frees) the earlier
// value of a key that an object repeats, so a caller could make the program
// leak the size of each request body, key or no key. Documents that repeat a
// key are refused as malformed instead; everything else parses as before.
class SafeJson
{
public:
    // Like QJsonDocument::fromJson; a repeated key gives a null document and
    // an error at the repeated key.
    static QJsonDocument parse(const QByteArray& json, QJsonParseError* error = nullptr);

    // Offset of the first key repeated within one object, or -1.
    static int repeatedKeyOffset(const QByteArray& json);
};
