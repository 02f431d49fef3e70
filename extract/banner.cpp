#include "extract/banner.h"

#include <string>

#include "extract/dialogue.h"
#include "extract/grid_axes.h"
#include "extract/names.h"
#include "textio/errors.h"
#include "textio/layout.h"
#include "textio/source.h"

namespace extract {

void show_banner(textio::Console& console) {
    static const textio::Layout title(
        "(/10x,'OrvkelPDSIv2010 *********************************************'"
        "/10x,'___________________________________________________________'"
        "//10x,'Orv-Kelmaston-Ruel: Global/Land PDSI Data-Server v2010'"
        "/10x,'Serves 2.5*2.5 degree monthly PDSI grid-cell values.'"
        "//10x,'The area coverage is -60.0 SOUTH to 77.5 NORHT.'"
        "/10x,'for 360 degrees.'"
        "/10x,'The temporal coverage is ',i4,' to ',i4,'.')");
    static const textio::Layout citation(
        "(/10x,'           See following paper for more details         '"
        "/10x,'Orv-Kelmaston-Ruel Global/Land PDSI, version 2010:'"
        "/10x,'monthly Palmer Drought Severity Index on a 2.5 by 2.5'"
        "/10x,'degree land grid, January 1850 to December 2010, with'"
        "/10x,'self-calibrated values. See the data set''s documentation.'"
        "//10x,'                     or goto '"
        "//10x,'https://example.org/pdsi/'"
        "/10x,'___________________________________________________________')");
    static const textio::Layout purpose(
        "(/10x,'This program extracts PDSI grid cells from a user defined .'"
        "/10x,'area. The neccessary input file for use with this program is: '"
        "//10x,'               pdsisc1850-2010.txt'"
        "//10x,'The program will save the selected cell data in a new file'"
        "/10x,'called  MonthlyPDSI.TSF (Time Series Format).  It also makes'"
        "/10x,'a second file of latitude and longitude coordinates for each'"
        "/10x,'grid cell selected called MonthlyPDSI.xy.')");
    static const textio::Layout notes(
        "(/10x,'Note:  This version will not work with previous Orv/Kelmaston '"
        "/10x,'/Ruel Global PDSI data files.  '"
        "//10x,'As of version 2010 this program now includes a new routine written'"
        "/10x,'by the Orv QC team, to fill missing monthly grid cell values and'"
        "/10x,'remove some of the outliers in the original data set.'"
        "//10x,'___________________________________________________________'/)");
    console.write(title, {kFirstYear, kLastYear});
    console.write(citation, {});
    console.write(purpose, {});
    console.write(notes, {});
    wait(console, "             Hit return to continue");
}

void check_input_file(textio::Console& console) {
    static const textio::Layout searching("(/10x,'Searching for file: pdsisc1850-2010.txt')");
    static const textio::Layout found("(/10x,'File: pdsisc1850-2010.txt - FOUND',/)");
    static const textio::Layout stars("(/10x,58('*'))");
    static const textio::Layout missing(
        "(/10x,'WARNING: File > ',a/1x,'<does not exist>'/"
        "/10x,'You must have the above mentioned file in the current working'"
        "/10x,'directory in order to use this program. ')");
    console.write(searching, {});
    if (textio::file_exists(std::string(kInputName))) {
        console.write(found, {});
        console.write(stars, {});
        wait(console, "             Hit return to continue");
        return;
    }
    console.write(missing, {infl()});
    wait(console, "             Hit return to quit");
    textio::end_run();
}

}  // namespace extract
