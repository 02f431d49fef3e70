// A request's head, judged before anything past it is read. The library in
// front refuses some of these itself, so they are pinned here, without it.
#include "serve/request_checks.h"

#include <gtest/gtest.h>

namespace {

TEST(RequestChecks, HeadsThatTwoReadersCouldTakeTwoWays) {
    struct Row {
        const char* name;
        const char* method;
        const char* version;
        serve::Fields headers;
        int status;  // 0: let through
        const char* message;
    };
    const Row rows[] = {
        {"plain", "GET", "HTTP/1.1", {{"Host", "x"}}, 0, ""},
        {"a blank in a name", "GET", "HTTP/1.1", {{"Host", "x"}, {"X Y", "1"}}, 400, "a malformed header name"},
        {"a control byte", "GET", "HTTP/1.1", {{"Host", "x\x01"}}, 400, "a control byte in the header Host"},
        {"a tab is no control byte", "GET", "HTTP/1.1", {{"Host", "x\ty"}}, 0, ""},
        {"a length of letters", "POST", "HTTP/1.1", {{"Host", "x"}, {"Content-Length", "5a"}}, 400,
         "Content-Length: not a length"},
        {"a length of 19 digits", "POST", "HTTP/1.1", {{"Host", "x"}, {"Content-Length", "1000000000000000000"}}, 400,
         "Content-Length: not a length"},
        {"an empty length", "POST", "HTTP/1.1", {{"Host", "x"}, {"Content-Length", " "}}, 400,
         "Content-Length: not a length"},
        {"two different lengths", "POST", "HTTP/1.1", {{"Host", "x"}, {"Content-Length", "5"}, {"content-length", "6"}},
         400, "Content-Length: two different lengths"},
        {"one length twice", "POST", "HTTP/1.1", {{"Host", "x"}, {"Content-Length", "5"}, {"Content-Length", " 5 "}}, 0,
         ""},
        {"a length and a coding", "POST", "HTTP/1.1",
         {{"Host", "x"}, {"Content-Length", "5"}, {"Transfer-Encoding", "chunked"}}, 400,
         "both Content-Length and Transfer-Encoding"},
        {"two codings", "POST", "HTTP/1.1", {{"Host", "x"}, {"Transfer-Encoding", "chunked"}, {"Transfer-Encoding", "chunked"}},
         501, "Transfer-Encoding: only chunked alone is understood"},
        {"gzip", "POST", "HTTP/1.1", {{"Host", "x"}, {"Transfer-Encoding", "gzip"}}, 501,
         "Transfer-Encoding: only chunked alone is understood"},
        {"chunked in capitals", "POST", "HTTP/1.1", {{"Host", "x"}, {"transfer-encoding", " CHUNKED"}}, 0, ""},
        {"no Host", "GET", "HTTP/1.1", {}, 400, "Host: missing"},
        {"two Hosts", "GET", "HTTP/1.1", {{"Host", "x"}, {"host", "x"}}, 400, "Host: given more than once"},
        {"no Host in 1.0", "GET", "HTTP/1.0", {}, 0, ""},
        {"two Hosts in 1.0", "GET", "HTTP/1.0", {{"Host", "x"}, {"Host", "y"}}, 400, "Host: given more than once"},
        {"a GET with a body", "GET", "HTTP/1.1", {{"Host", "x"}, {"Content-Length", "1"}}, 400, "a GET request takes no body"},
        {"a HEAD with a coding", "HEAD", "HTTP/1.1", {{"Host", "x"}, {"Transfer-Encoding", "chunked"}}, 400,
         "a HEAD request takes no body"},
        {"a GET with a length of zeros", "GET", "HTTP/1.1", {{"Host", "x"}, {"Content-Length", "000"}}, 0, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::optional<serve::HttpError> refusal = serve::check_head({row.method, row.version, row.headers});
        ASSERT_EQ(refusal.has_value(), row.status != 0);
        if (refusal) {
            EXPECT_EQ(refusal->status, row.status);
            EXPECT_EQ(refusal->message, row.message);
        }
    }
}

TEST(RequestChecks, AbsoluteTargetsAreAnsweredAsTheirPath) {
    const std::pair<const char*, const char*> rows[] = {
        {"/extract?years=1900:1901", "/extract?years=1900:1901"},
        {"http://host:8080/extract?lat=0:10", "/extract?lat=0:10"},
        {"HTTPS://host/health", "/health"},
        {"http://host", "/"},
        {"http://host?x=1", "/?x=1"},
        {"ftp://host/health", "ftp://host/health"},
        {"/dap/pdsi.dods?x=http://y/z", "/dap/pdsi.dods?x=http://y/z"},
        {"*", "*"},
    };
    for (const auto& [target, path] : rows) EXPECT_EQ(serve::origin_form(target), path) << target;
}

}  // namespace
