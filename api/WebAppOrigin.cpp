#include "api/WebAppOrigin.h"

#include <QRegularExpression>

const QStringList& WebAppOrigin::domains()
{
    static const QStringList list = {
        QStringLiteral("quorva.pt"),  QStringLiteral("quorva.com"),    QStringLiteral("quorva.es"),
        QStringLiteral("quorva.app"), QStringLiteral("quorvapos.com"),
    };
    return list;
}

QString WebAppOrigin::defaultOrigin()
{
    return QStringLiteral("https://app.quorva.pt");
}

QString WebAppOrigin::helpArticle()
{
    return QStringLiteral("https://ajuda.quorva.pt/artigos/configurar-impressoras-de-taloes");
}

bool WebAppOrigin::isAllowed(const QString& origin)
{
    // A browser's Origin is scheme, host and optional port, nothing more. The
    // host is compared label by label so that "evilquorva.pt" or
    // "localhost.evil.example" do not pass as one of ours.
    static const QRegularExpression serialised(
        QStringLiteral("^(https?)://([A-Za-z0-9-]+(?:\\.[A-Za-z0-9-]+)*)(:[0-9]{1,5})?$"));
    const QRegularExpressionMatch match = serialised.match(origin);
    if (!match.hasMatch())
        return false;
    const QString scheme = match.captured(1);
    const QString host = match.captured(2);
    if (host == QLatin1String("localhost"))
        return scheme == QLatin1String("http");
    for (const QString& domain : domains()) {
        if (host == domain || host.endsWith(QLatin1Char('.') + domain))
            return true;
    }
    return false;
}

QByteArray WebAppOrigin::allowOriginFor(const QString& origin)
{
    return isAllowed(origin) ? origin.toUtf8() : defaultOrigin().toUtf8();
}
