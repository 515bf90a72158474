#include "api/PrintClientRequestHandler.h"

PrintClientRequestHandler::PrintClientRequestHandler()
    : HttpRequestHandler(nullptr)
{}
