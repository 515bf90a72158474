#pragma once

#include <QJsonObject>

// The settings of one print job. A job starts with the member initialisers; a
// "settings" operation replaces all of them at once, where a key that is
// missing or of another type takes its value from fromJson's defaults, which
// differ for the cutter and the drawer (off).
struct JobSettings
{
    int normalLineWidth = 48;
    int condensedLineWidth = 64;
    int dotWidth = 576; // the paper's width: rendering does not use it; the preview and code checks do
    bool hasCutter = true;
    bool hasDrawer = true;
    bool lowDensity = false;
    int imagePrintMode = 0; // 0 plain, 1 page mode, anything else prints no image
    bool alternativeCharset = false;
    bool replaceAccentedChars = false;

    static JobSettings fromJson(const QJsonObject& data);

    // "dotWidth" where it can be a paper's width, else that of 80 mm paper.
    static constexpr int minDotWidth = 64;
    static constexpr int maxDotWidth = 2048;
    bool paperWidthUsable() const { return dotWidth >= minDotWidth && dotWidth <= maxDotWidth; }
    int paperWidth() const { return paperWidthUsable() ? dotWidth : JobSettings().dotWidth; }
};
