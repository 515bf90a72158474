#pragma once

#include <QByteArray>
#include <QNetworkRequest>
#include <QString>
#include <QUrl>

class QNetworkReply;

// The request to the maker's version service and the reading of its answer.
class VersionCheck
{
public:
    // The built-in service address, or QUORVA_LINK_VERSION_URL when it is set.
    static QUrl serviceUrl();

    static QNetworkRequest request();

    // The form body: cur=<version>, fully percent-encoded, as UTF-8.
    static QByteArray body(const QString& curVersion);

    // The answer is a small JSON object; more than this is no answer.
    static constexpr qint64 maxAnswerBytes = 64 * 1024;

    // Aborts the reply (an error: the check fails) once it brings more than
    // maxAnswerBytes, so that a broken or hostile service cannot fill the memory.
    static void limitAnswer(QNetworkReply* reply);

    // True only for a JSON object whose "hasNewVersion" is the JSON value true.
    static bool announcesNewVersion(const QByteArray& answer);
};
