#pragma once

#include <QByteArray>
#include <QList>

class HttpResponseWriter;

// Pages of other sites may send requests (a no-cors fetch, a form post) while
// only the answer is hidden from them. A request that names an origin which is
// not the web application's is refused before the key is checked or anything
// runs; its preflight gets no allow headers either. Requests without an Origin
// header (curl, native programs) are not browsers' and pass.
class OriginGate
{
public:
    // The values of every Origin header of the request.
    static bool admits(const QList<QByteArray>& origins);

    // 403 {"status": false, "error": "Origin not allowed"}, without CORS headers.
    static void refuse(HttpResponseWriter& response);
};
