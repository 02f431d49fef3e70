// /zarr/pdsi/ and /zarr/pdsi-series/: the grid's Zarr stores (zarr/), key
// by key, with the server's caching headers. The metadata and the
// coordinates are made once; pdsi's chunks when first asked for, then
// kept in the answer cache.
#include <cstdio>

#include "serve/grid_values.h"
#include "serve/more_routes.h"
#include "zarr/store.h"

#ifndef PDSI_VERSION
#define PDSI_VERSION "0"
#endif

namespace serve {

namespace {

constexpr const char* kCacheControl = "public, max-age=86400";

dap::Slab slab_of(const zarr::Block& block) {
    dap::Slab slab;
    for (size_t d = 0; d < 3; ++d) {
        slab.start[d] = block.start[d];
        slab.stop[d] = block.start[d] + block.count[d] - 1;
    }
    return slab;
}

}  // namespace

Routed zarr_route(const LoadedGrid& grid, const HttpRequest& request, AnswerCache& cache) {
    Routed routed;
    routed.route = "/zarr";
    // Clients probe for keys a store lacks: a short answer, nothing made.
    const std::string_view rest = std::string_view(request.path).substr(6);
    const size_t slash = rest.find('/');
    const zarr::Store* store = slash == std::string_view::npos ? nullptr : zarr::Store::named(rest.substr(0, slash));
    const std::string key(store ? rest.substr(slash + 1) : std::string_view());
    const std::optional<zarr::Entry> entry = store ? store->find(key) : std::nullopt;
    if (!entry) {
        routed.response = plain(404, "not found: " + std::string(rest.substr(0, 80)));
        return routed;
    }
    const std::string name = "zarr/" + store->name() + "/" + key;
    char tag[40];
    std::snprintf(tag, sizeof tag, "\"%016llx\"",
                  static_cast<unsigned long long>(fnv1a(grid.identity() + "|" PDSI_VERSION "|" + name)));
    const std::string etag = tag;
    Response response;
    response.set("ETag", etag);
    response.set("Cache-Control", kCacheControl);
    // Early only where the answer cannot fail: a chunk of a damaged grid
    // may meet the damage, and a failure is never a 304.
    if ((grid.sound() || entry->bytes) && none_match_hits(request.if_none_match, etag)) {
        response.status = 304;
        routed.response = std::move(response);
        return routed;
    }
    response.set("Content-Type", entry->json ? "application/json" : "application/octet-stream");
    response.set("Last-Modified", http_date(grid.modified()));
    response.body = entry->bytes ? entry->bytes : cache.find(name);
    if (response.body) {
        routed.response = std::move(response);
        return routed;
    }
    // A chunk of a damaged grid reads the file's copy: long, so a job.
    routed.long_job = !grid.sound();
    auto work = [&grid, &cache, store, field = entry->field, name, response](const Budget& budget) mutable {
        try {
            const GridValues values(grid, budget);
            response.body = std::make_shared<const std::string>(store->field_chunk(
                field, [&values](const zarr::Block& block, float* out) { values.read(slab_of(block), out); }));
        } catch (const dap::Failure& failure) {
            return plain(failure.status, failure.message);
        }
        cache.put(name, response.body);
        return response;
    };
    if (routed.long_job) {
        routed.work = std::move(work);
    } else {
        routed.response = work(Budget());
    }
    return routed;
}

}  // namespace serve
