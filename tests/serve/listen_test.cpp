// --listen's HOST:PORT: the forms taken and those refused with why.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "serve/http_server.h"
#include "serve/http_types.h"

namespace {

TEST(Listen, TakesHostPortFormsAndRefusesTheRest) {
    struct Row {
        const char* given;
        const char* shown;  // the start of the address listened on; "" when refused; "*" any address
        const char* why;    // the start of the refusal
    };
    const Row rows[] = {
        {"127.0.0.1:0", "127.0.0.1:", ""},
        {"127.0.0.1:65535", "127.0.0.1:65535", ""},
        {"[::1]:0", "[::1]:", ""},
        {"[]:0", "*", ""},  // every address, the empty host's
        {":0", "*", ""},
        {"127.0.0.1:65536", "", "--listen: \"65536\" is not a port"},
        {"127.0.0.1:-1", "", "--listen: \"-1\" is not a port"},
        {"127.0.0.1:", "", "--listen: \"\" is not a port"},
        {"127.0.0.1:80x", "", "--listen: \"80x\" is not a port"},
        {"localhost", "", "--listen: \"localhost\" is not HOST:PORT"},
        {"[::1:0", "", "--listen: cannot resolve \"[::1\""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.given);
        try {
            const serve::Listener listener = serve::listen_on(row.given);
            ::close(listener.fd);
            EXPECT_EQ(*row.why, '\0') << "listened on " << listener.shown;
            if (std::string(row.shown) == "*")
                EXPECT_TRUE(listener.shown.starts_with("0.0.0.0:") || listener.shown.starts_with("[::]:")) << listener.shown;
            else
                EXPECT_EQ(listener.shown.rfind(row.shown, 0), 0u) << listener.shown;
            EXPECT_EQ(listener.shown.substr(listener.shown.rfind(':') + 1), std::to_string(listener.port));
        } catch (const serve::HttpError& error) {
            if (std::string(row.given) == "[::1]:0" && error.message.rfind("--listen: cannot listen on", 0) == 0)
                continue;  // no IPv6 here
            EXPECT_NE(*row.why, '\0') << error.message;
            EXPECT_EQ(error.message.rfind(row.why, 0), 0u) << error.message;
        }
    }
}

}  // namespace
