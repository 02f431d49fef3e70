#include "extract/extraction.h"

#include <algorithm>
#include <string>
#include <vector>

#include "extract/grid_axes.h"
#include "extract/grid_store.h"
#include "extract/names.h"
#include "extract/readgrid.h"
#include "extract/screen.h"
#include "extract/writecells.h"
#include "textio/layout.h"

namespace extract {

Extraction extract_cells(textio::Console& console, const Request& request, const ExtractionPaths& paths) {
    static const textio::Layout extracting("(/10x,'Extracting Monthly Grid Cell Data.')");
    static const textio::Layout removing("(/10x,'Removing Blank or Incomplete Cells')");
    static const textio::Layout writing("(/10x,'Writing Selected Grid Cells to Output file ',a,/)");

    const GridAxes axes;
    Extraction result;
    result.box = findbox(axes, request.latmin, request.latmax, request.lonmin, request.lonmax);
    result.nbox = result.box.nbox();
    console.write(extracting, {});
    // The store goes out of scope here, before the gap filling needs its
    // own memory.
    const GridStore store = readgrid(paths.grid.string(), request.iyr1, request.iyr2, result.box, paths.progress,
                                     paths.threads);
    console.write(removing, {});
    const std::vector<int32_t> keep = screencells(store, request.pctmiss, paths.threads);
    result.nkept = static_cast<int32_t>(std::count(keep.begin(), keep.end(), 1));
    console.write(writing, {outfl()});
    writecells(console, store, keep, axes, request.iyr1, paths.dir, paths.threads);
    return result;
}

}  // namespace extract
