#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The web application's own addresses: which browser origins may read the
// API's answers, the address named instead for every other origin, and the
// help article linked from the status page.
class WebAppOrigin
{
public:
    static const QStringList& domains();
    static QString defaultOrigin();
    static QString helpArticle();

    // An origin whose host is one of the domains or lies under one of them, or
    // the local development server (http://localhost with an optional port).
    static bool isAllowed(const QString& origin);

    // The value of Access-Control-Allow-Origin for a request from this origin.
    static QByteArray allowOriginFor(const QString& origin);
};
