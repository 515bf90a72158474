#pragma once

#include <QByteArray>
#include <QList>

// One cookie: the value the response writer turns into a Set-Cookie header, and
// the parser of such headers. splitCsv is shared with the request parser, which
// reads Cookie headers the same way.
class HttpCookie
{
public:
    HttpCookie() = default;
    HttpCookie(const QByteArray& name, const QByteArray& value, int maxAge, const QByteArray& path = QByteArray(),
               const QByteArray& comment = QByteArray(), const QByteArray& domain = QByteArray(), bool secure = false,
               bool httpOnly = false);
    // Parses a Set-Cookie text.
    explicit HttpCookie(const QByteArray& source);

    QByteArray toByteArray() const;

    // Splits at semicolons outside double quotes; the quotes are removed, each
    // part trimmed, empty parts dropped.
    static QList<QByteArray> splitCsv(const QByteArray& source);

    void setName(const QByteArray& name) { m_name = name; }
    void setValue(const QByteArray& value) { m_value = value; }
    void setComment(const QByteArray& comment) { m_comment = comment; }
    void setDomain(const QByteArray& domain) { m_domain = domain; }
    void setMaxAge(int maxAge) { m_maxAge = maxAge; }
    void setPath(const QByteArray& path) { m_path = path; }
    void setSecure(bool secure) { m_secure = secure; }
    void setHttpOnly(bool httpOnly) { m_httpOnly = httpOnly; }
    void setVersion(int version) { m_version = version; }

    QByteArray getName() const { return m_name; }
    QByteArray getValue() const { return m_value; }
    QByteArray getComment() const { return m_comment; }
    QByteArray getDomain() const { return m_domain; }
    int getMaxAge() const { return m_maxAge; }
    QByteArray getPath() const { return m_path; }
    bool getSecure() const { return m_secure; }
    bool getHttpOnly() const { return m_httpOnly; }
    int getVersion() const { return m_version; }

private:
    QByteArray m_name;
    QByteArray m_value;
    QByteArray m_comment;
    QByteArray m_domain;
    int m_maxAge = 0;
    QByteArray m_path;
    bool m_secure = false;
    bool m_httpOnly = false;
    int m_version = 1;
};
