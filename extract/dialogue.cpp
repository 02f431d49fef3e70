#include "extract/dialogue.h"

#include <string>

#include "extract/grid_axes.h"
#include "textio/layout.h"

namespace extract {

namespace {

// Asks `prompt` until the answer reads as one field of `answer`.
template <typename T>
void ask_until_read(textio::Console& console, const textio::Layout& prompt, const textio::Layout& answer, T& value) {
    do {
        console.write(prompt, {});
    } while (console.read(answer, {value}) != textio::ReadStatus::ok);
}

void show_rectangle(textio::Console& console) {
    static const textio::Layout shape(
        "(/10x,'This data set is spatially shaped like a rectangle where'"
        "/10x,'the top left corner is defined by the coordinates'"
        "/10x,'-180.0 Lon./-60.0 Lat. and the bottom right coordinates are'"
        "/10x,'180.0 Lon./77.5 Lat.  (see diagram below)')");
    static const textio::Layout diagram(
        "(/10x,'180.0/-60.0                                -180.0/-60.0'"
        "/10x,'      :------------------------------------------:'"
        "/10x,'      :                                          :'"
        "/10x,'      :                                          :'"
        "/10x,'      :                                          :'"
        "/10x,'      :            Our Lovely Planet             :'"
        "/10x,'      :              (upside down)               :'"
        "/10x,'      :                                          :'"
        "/10x,'      :                                          :'"
        "/10x,'      :                                          :'"
        "/10x,'      :------------------------------------------:'"
        "/10x,'180.0/77.5.0                                -180.0/77.5')");
    static const textio::Layout advice(
        "(/10x,'All minimum longitudes and latitudes are the most negative'"
        "/10x,'or most west and most south coordinates. To extract a region'"
        "/10x,'that spans the dateline one must run this program twice, once'"
        "/10x,'to extract the cells west of 180.0 and once to extract the cells'"
        "/10x,'east of -180.0'"
        "/10x,'Warning: The default output file named MonthlyPDSI.TSF is '"
        "/10x,'overwritten with each run of the program.'"
        "/10x,'NOTICE: All Corrdinates must be entered as real numbers'"
        "/10x,'        e.g., -100.25 , 151.0 or 30. , -40. , 21.')");
    console.write(shape, {});
    console.write(diagram, {});
    console.write(advice, {});
}

void ask_latitudes(textio::Console& console, Request& request) {
    static const textio::Layout north("(/10x,'Enter MAX. Latutude  [most north]   TOP: ',$)");
    static const textio::Layout south("(10x,'Enter MIN. Latitude [most south] BOTTOM: ',$)");
    static const textio::Layout coordinate("(f8.1)");
    static const textio::Layout inverted_message(
        "(/10x,'MAX. LAT. must be greater than MIN. LAT.'"
        "/10x,'MIN. LAT. entered = ',f8.2,' MAX. LAT. = ',f8.2)");
    for (;;) {
        ask_until_read(console, north, coordinate, request.latmax);
        request.latmax = clamp_north(request.latmax);
        ask_until_read(console, south, coordinate, request.latmin);
        request.latmin = clamp_south(request.latmin);
        if (!inverted(request.latmin, request.latmax)) return;
        console.write(inverted_message, {request.latmin, request.latmax});
        console.write_free({});
        continue_wait(console);
    }
}

void ask_longitudes(textio::Console& console, Request& request) {
    static const textio::Layout west("(/10x,'Enter MIN. Longitude [most west]   LEFT: ',$)");
    static const textio::Layout east("(10x,'Enter Max. Longitude  [most east] RIGHT: ',$)");
    static const textio::Layout coordinate("(f8.1)");
    static const textio::Layout inverted_message(
        "(/10x,'MAX. LON. must be greater than MIN. LON.'"
        "/10x,'MIN. LON. entered = ',f8.2,' MAX. LON. = ',f8.2)");
    for (;;) {
        ask_until_read(console, west, coordinate, request.lonmin);
        request.lonmin = clamp_west(request.lonmin);
        ask_until_read(console, east, coordinate, request.lonmax);
        request.lonmax = clamp_east(request.lonmax);
        if (!inverted(request.lonmin, request.lonmax)) return;
        console.write(inverted_message, {request.lonmin, request.lonmax});
        console.write_free({});
        continue_wait(console);
    }
}

void show_selection(textio::Console& console, const Request& request) {
    static const textio::Layout heading(
        "(/10x,'Area selected is :'"
        "//8x,'    Lon.    Lat                                     Lon.     Lat.')");
    static const textio::Layout edge("(8x,f8.2,'/',f8.2,':------------------------------:',f8.2,'/',f8.2)");
    static const textio::Layout inside(
        "(25x,':                              :'"
        "/25x,':                              :'"
        "/25x,':        Your Selection        :'"
        "/25x,':                              :'"
        "/25x,':                              :')");
    console.write(heading, {});
    console.write(edge, {request.lonmin, request.latmax, request.lonmax, request.latmax});
    console.write(inside, {});
    console.write(edge, {request.lonmin, request.latmin, request.lonmax, request.latmin});
}

}  // namespace

void ask_years(textio::Console& console, Request& request) {
    static const textio::Layout span(
        "(/10x,'Select the time span for which to retrieve data.'"
        "/10x,'Valid years are between: ',i4,' and ',i4,'.')");
    static const textio::Layout first("(/10x,'Enter first year to extract [>',i4,'<',i4,'] : ',$)");
    static const textio::Layout last("(/10x,'Enter last year of data to extract [<=',i4,'] : ',$)");
    static const textio::Layout year("(i4)");
    static const textio::Layout refused("(/10x,'Wooh Snowy! Between ',i4,' and ',i4)");
    for (;;) {
        console.write(span, {kFirstYear, kLastYear});
        console.write(first, {kFirstYear, kLastYear});
        if (console.read(year, {request.iyr1}) != textio::ReadStatus::ok) continue;
        if (request.iyr1 >= kFirstYear && request.iyr1 <= kLastYear) break;
        console.write(refused, {kFirstYear, kLastYear});
        wait(console, " Hit return to continue");
    }
    for (;;) {
        console.write(last, {kLastYear});
        if (console.read(year, {request.iyr2}) != textio::ReadStatus::ok) continue;
        if (request.iyr2 >= request.iyr1 && request.iyr2 <= kLastYear) return;
        console.write(refused, {request.iyr1, kLastYear});
        wait(console, " Hit return to continue");
    }
}

void ask_box(textio::Console& console, Request& request) {
    static const textio::Layout confirm("(/10x,'Is this ok? Enter [T]rue or [F]alse : ',$)");
    do {
        show_rectangle(console);
        ask_latitudes(console, request);
        ask_longitudes(console, request);
        show_selection(console, request);
        console.write(confirm, {});
    } while (!read_true_false(console));
}

void ask_pctmiss(textio::Console& console, Request& request) {
    static const textio::Layout explain(
        "(/10x,'Finally, enter the percent missing monthly values   '"
        "/10x,'you are willing to accept in any selected grid cell. '"
        "/10x,'Example :  50% = 0.5, 25% = 0.25 75% = 0.75')");
    static const textio::Layout prompt("(/10x,' Enter % : ',$)");
    static const textio::Layout fraction("(f8.3)");
    static const textio::Layout refused("(/10x,'You must enter your value as a real number with decimal point')");
    for (;;) {
        console.write(explain, {});
        console.write(prompt, {});
        if (console.read(fraction, {request.pctmiss}) == textio::ReadStatus::ok) return;
        console.write(refused, {});
        console.write_free({});
        continue_wait(console);
    }
}

bool read_true_false(textio::Console& console) {
    bool answer = false;
    if (console.read_free({answer}) != textio::ReadStatus::ok) return false;
    return answer;
}

void wait(textio::Console& console, const char* text) { console.pause(text); }

void continue_wait(textio::Console& console) {
    static const textio::Layout hit("(/12x,'Hit return to CONTINUE',/)");
    static const textio::Layout one_character("(a1)");
    console.write(hit, {});
    std::string ignored(1, ' ');
    console.read(one_character, {ignored});
}

}  // namespace extract
