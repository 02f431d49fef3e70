#include "serve/more_routes.h"

namespace serve {

Routed dap_route(const LoadedGrid&, const HttpRequest&) {
    Routed routed;
    routed.route = "/dap";
    routed.response = plain(404, "not found");
    return routed;
}

}  // namespace serve
