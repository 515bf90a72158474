#include "printing/JobSettings.h"

#include <QJsonValue>

namespace {

// Only JSON numbers with an integral value count as integers.
int readInt(const QJsonObject& data, const char* key, int fallback)
{
    return data.value(QLatin1String(key)).toInt(fallback);
}

// Only JSON true and false count as booleans.
bool readBool(const QJsonObject& data, const char* key, bool fallback)
{
    return data.value(QLatin1String(key)).toBool(fallback);
}

} // namespace

JobSettings JobSettings::fromJson(const QJsonObject& data)
{
    JobSettings s;
    s.normalLineWidth = readInt(data, "normalLineWidth", 48);
    s.condensedLineWidth = readInt(data, "condensedLineWidth", 64);
    s.dotWidth = readInt(data, "dotWidth", 576);
    s.hasCutter = readBool(data, "hasCutter", false);
    s.hasDrawer = readBool(data, "hasDrawer", false);
    s.lowDensity = readBool(data, "lowDensity", false);
    s.imagePrintMode = readInt(data, "imagePrintMode", 0);
    s.alternativeCharset = readBool(data, "alternativeCharset", false);
    s.replaceAccentedChars = readBool(data, "replaceAccentedChars", false);
    return s;
}
