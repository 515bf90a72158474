#pragma once

#include <QObject>

class HttpRequest;
class HttpResponseWriter;

// Base of every request handler: the connection threads call service() once per
// request, several at a time, so a derived handler must be safe for that.
class HttpRequestHandler : public QObject
{
    Q_OBJECT
public:
    explicit HttpRequestHandler(QObject* parent = nullptr);
    ~HttpRequestHandler() override;

    // The base answers 501.
    virtual void service(HttpRequest& request, HttpResponseWriter& response);
};
