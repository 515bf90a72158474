#pragma once

#include "http/HttpRequestHandler.h"

class PrintClient;

// The request handler of the local web API.
class PrintClientRequestHandler : public HttpRequestHandler
{
    Q_OBJECT

public:
    PrintClientRequestHandler();

    void setPrintClient(PrintClient* printClient) { m_printClient = printClient; }
    PrintClient* printClient() const { return m_printClient; }

private:
    PrintClient* m_printClient = nullptr;
};
