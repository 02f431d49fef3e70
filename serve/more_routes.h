#pragma once
// Routes that live in files of their own: the OPeNDAP dataset and the
// home page with its map. Each gives an answer now or work for a job.
#include <optional>

#include "serve/app.h"
#include "serve/http_types.h"
#include "serve/loaded_grid.h"

namespace serve {

// Paths under /dap/ (the dataset /dap/pdsi and its .das, .dds, .dods, .ver,
// .html).
Routed dap_route(const LoadedGrid& grid, const HttpRequest& request, const ServerConfig& config);

// "/" and paths under /page/ (the page's scripts, styles and map data);
// none for any other path.
std::optional<Routed> page_route(const LoadedGrid& grid, const HttpRequest& request);

}  // namespace serve
