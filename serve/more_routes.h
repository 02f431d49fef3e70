#pragma once
// Routes that live in files of their own: the OPeNDAP dataset, the Zarr
// stores and the home page with its map. Each gives an answer now or work
// for a job.
#include <optional>

#include "serve/answer_cache.h"
#include "serve/app.h"
#include "serve/http_types.h"
#include "serve/loaded_grid.h"

namespace serve {

// Paths under /dap/ (the dataset /dap/pdsi and its .das, .dds, .dods, .ver,
// .html).
Routed dap_route(const LoadedGrid& grid, const HttpRequest& request, const ServerConfig& config);

// Paths under /zarr/: the stores /zarr/pdsi/ and /zarr/pdsi-series/ and
// their keys. Chunks of pdsi are made when first asked for and kept in
// `cache`.
Routed zarr_route(const LoadedGrid& grid, const HttpRequest& request, AnswerCache& cache);

// "/" and paths under /page/ (the page's scripts, styles and map data);
// none for any other path.
std::optional<Routed> page_route(const LoadedGrid& grid, const HttpRequest& request);

}  // namespace serve
