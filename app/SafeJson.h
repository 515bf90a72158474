#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonParseError>

// JSON from the network. Qt 5.15's parser loses (never frees) the earlier
// value of a key that an object repeats, so a caller could make the program
// leak the size of each request body, key or no key. Documents that repeat a
// key are refused as malformed instead, and so are documents nested deeper
// than any request needs (each level costs memory before Qt's own limit of
// 1024 is reached); everything else parses as before.
class SafeJson
{
public:
    static constexpr int maxDepth = 64;

    // Like QJsonDocument::fromJson; a repeated key or an array or object nested
    // deeper than maxDepth gives a null document and an error at that place.
    static QJsonDocument parse(const QByteArray& json, QJsonParseError* error = nullptr);

    // The first repeated key or too deep a level, found in one pass before
    // anything is parsed: its offset, or -1 (and NoError) when there is none.
    static int refusedOffset(const QByteArray& json, QJsonParseError::ParseError* why = nullptr);
};
