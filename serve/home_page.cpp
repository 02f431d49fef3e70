#include "serve/more_routes.h"

namespace serve {

std::optional<Routed> page_route(const LoadedGrid&, const HttpRequest&) { return std::nullopt; }

}  // namespace serve
