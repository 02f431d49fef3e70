#include "qc/welcome.h"

namespace qc {

void show_welcome(textio::Console& console) {
    static const textio::Layout screen(
        "(/1x,'Orv_QC5b *************************************************'"
        "/1x,'___________________________________________________________'"
        "//1x,'Welcome to Orv_QC5b'"
        "//1x,'This program strives to clean up the many gross outliers and'"
        "/1x,'discontinuities in the Orv/Kelmaston/Fesk global PDSI data set. It also'"
        "/1x,'estimates missing monthly values using a simple reduced space approach'"
        "/1x,'based on available PDSI grid cells immediately surrounding the central'"
        "/1x,'grid cell in question. The pattern of grid cells used conforms to the'"
        "/1x,'so-called \"Queens Case\" arrangement used in estimating spatial auto-'"
        "/1x,'correlation, hence Orv_QC. When the central grid cell is in the interior'"
        "/1x,'of a grid, there are 8 surrounding grid cells by this design. So a full'"
        "/1x,'Queens Case analysis will have 9 total grid cells involved. Of course if'"
        "/1x,'the central grid cell of interest is on the margin of the grid, there will'"
        "/1x,'be fewer adjacent grid points to use.'"
        "//1x,'When the ORV_QC finishes running, three additional output files are made :'"
        "//1x,'1) MonthlyPDSI_col.tsf - Original monthly data in columnwise format by grid'"
        "/1x,'2) MonthlyPDSI_QC.xy   - Queens Case version in monthly climate data format'"
        "/1x,'3) MonthlyPDSI_QC_col  - Queens Case version in columnwise format by grid'"
        "//1x,'The *_col files allow for easy comparison of monthly grid point values'"
        "/1x,'before and after the Queens Case improvements have been applied. It is'"
        "/1x,'usedful to make some grid point comparisons to see exactly what changes have'"
        "/1x,'been made. Sometimes they are very small, other times quite large.'"
        "/2x,'Good luck!'"
        "//1x,'Okay, hit return now if you are ready to proceed.')");
    console.write(screen, {});
    console.wait();
}

}  // namespace qc
