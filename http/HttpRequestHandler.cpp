#include "http/HttpRequestHandler.h"

#include "http/HttpRequest.h"
#include "http/HttpResponseWriter.h"

#include <QtDebug>

HttpRequestHandler::HttpRequestHandler(QObject* parent)
    : QObject(parent)
{}

HttpRequestHandler::~HttpRequestHandler() = default;

void HttpRequestHandler::service(HttpRequest& request, HttpResponseWriter& response)
{
    qCritical("HttpRequestHandler: you need to override the service() function");
    qDebug("HttpRequestHandler: request=%s %s %s", HttpRequest::loggable(request.method()).constData(),
           HttpRequest::loggable(request.path()).constData(), HttpRequest::loggable(request.version()).constData());
    response.setStatus(501, "not implemented");
    response.write("501 not implemented", true);
}
