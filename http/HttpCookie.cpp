#include "http/HttpCookie.h"

#include "http/HttpRequest.h"

#include <QtDebug>

HttpCookie::HttpCookie(const QByteArray& name, const QByteArray& value, int maxAge, const QByteArray& path,
                       const QByteArray& comment, const QByteArray& domain, bool secure, bool httpOnly)
    : m_name(name)
    , m_value(value)
    , m_comment(comment)
    , m_domain(domain)
    , m_maxAge(maxAge)
    , m_path(path)
    , m_secure(secure)
    , m_httpOnly(httpOnly)
{}

HttpCookie::HttpCookie(const QByteArray& source)
{
    const QList<QByteArray> parts = splitCsv(source);
    for (const QByteArray& part : parts) {
        QByteArray name;
        QByteArray value;
        const int eq = part.indexOf('=');
        if (eq >= 0) {
            name = part.left(eq).trimmed();
            value = part.mid(eq + 1).trimmed();
        } else {
            name = part.trimmed();
        }

        if (name == "Comment") {
            m_comment = value;
        } else if (name == "Domain") {
            m_domain = value;
        } else if (name == "Max-Age") {
            m_maxAge = value.toInt();
        } else if (name == "Path") {
            m_path = value;
        } else if (name == "Secure") {
            m_secure = true;
        } else if (name == "HttpOnly") {
            m_httpOnly = true;
        } else if (name == "Version") {
            m_version = value.toInt();
        } else if (m_name.isEmpty()) {
            m_name = name;
            m_value = value;
        } else {
            // The name only, escaped: a value may be a secret, and a line end would forge log lines.
            qWarning("HttpCookie: Ignoring unknown %s", HttpRequest::loggable(name).constData());
        }
    }
}

QByteArray HttpCookie::toByteArray() const
{
    QByteArray buffer(m_name);
    buffer.append('=');
    buffer.append(m_value);
    if (!m_comment.isEmpty())
        buffer.append("; Comment=").append(m_comment);
    if (!m_domain.isEmpty())
        buffer.append("; Domain=").append(m_domain);
    if (m_maxAge != 0)
        buffer.append("; Max-Age=").append(QByteArray::number(m_maxAge));
    if (!m_path.isEmpty())
        buffer.append("; Path=").append(m_path);
    if (m_secure)
        buffer.append("; Secure");
    if (m_httpOnly)
        buffer.append("; HttpOnly");
    buffer.append("; Version=").append(QByteArray::number(m_version));
    return buffer;
}

QList<QByteArray> HttpCookie::splitCsv(const QByteArray& source)
{
    QList<QByteArray> list;
    QByteArray part;
    bool inQuotes = false;
    const auto finishPart = [&list, &part]() {
        const QByteArray trimmed = part.trimmed();
        if (!trimmed.isEmpty())
            list.append(trimmed);
        part.clear();
    };
    for (const char c : source) {
        if (c == '"') {
            inQuotes = !inQuotes;
        } else if (c == ';' && !inQuotes) {
            finishPart();
        } else {
            part.append(c);
        }
    }
    finishPart();
    return list;
}
