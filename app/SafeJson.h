#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonParseError>

// JSON from the network. Qt 5.15's parser loses (never frees) the earlier
// value of a key that an object repeats, so a caller could make the program
// leak the size of each request body, key or no key. Documents that repeat a
// key are refused as malformed instead, and so are documents nested deeper
// than any request needs (each level costs memory before Qt's own limit of
// 1024 is reached) or holding more values than any request needs (each one
// costs memory); everything else parses as before.
class SafeJson
{
public:
    static constexpr int maxDepth = 64;
    // Far above a receipt of a few thousand operations (a handful of values each).
    static constexpr int maxValues = 100000;

    // Like QJsonDocument::fromJson; a repeated key, an array or object nested
    // deeper than maxDepth, or more than maxValues values give a null document
    // and an error at that place (DeepNesting, DocumentTooLarge).
    static QJsonDocument parse(const QByteArray& json, QJsonParseError* error = nullptr);

    // A repeated key, too deep a level or one value too many, found in one pass
    // before anything is parsed: its offset, or -1 (and NoError) when there is none.
    static int refusedOffset(const QByteArray& json, QJsonParseError::ParseError* why = nullptr);
};
