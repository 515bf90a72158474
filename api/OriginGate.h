#pragma once

#include <QByteArray>
#include <QList>

class HttpResponseWriter;

// Pages of other sites may send requests (a no-cors fetch, a form post, an
// image, a script, a frame or a link) while only the answer is hidden from
// them. A request that names an origin which is not the web application's is
// refused before the key is checked or anything runs; its preflight gets no
// allow headers either. So is a request without an Origin header that the
// browser marks as sent by another site (Sec-Fetch-Site other than "none", an
// address the user typed, or "same-origin"): browsers send no Origin with the
// GET of an image or a page, and the key may ride in its query. Requests with
// neither header (curl, native programs) are not browsers' and pass.
class OriginGate
{
public:
    // The values of every Origin and every Sec-Fetch-Site header of the request.
    static bool admits(const QList<QByteArray>& origins, const QList<QByteArray>& fetchSites);

    // 403 {"status": false, "error": "Origin not allowed"}, without CORS headers.
    static void refuse(HttpResponseWriter& response);
};
