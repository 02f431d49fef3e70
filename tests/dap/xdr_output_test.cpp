// The marshaller's XDR for every kind libdap may hand it, the kinds this
// dataset has no variable of among them.
#include "dap/xdr_output.h"

#include <gtest/gtest.h>
#include <libdap/Array.h>
#include <libdap/Byte.h>
#include <libdap/Float64.h>

#include <functional>
#include <string>

namespace {

TEST(XdrOutput, EachKindInNetworkOrderPaddedToFour) {
    libdap::Byte byte("b");
    libdap::Array bytes("v", &byte);
    libdap::Float64 real("r");
    libdap::Array reals("w", &real);
    using dap::detail::XdrOutput;
    struct Row {
        const char* name;
        std::function<void(XdrOutput&)> put;
        std::string bytes;
    };
    const Row rows[] = {
        {"float32", [](XdrOutput& x) { x.put_float32(1.5f); }, std::string("\x3f\xc0\x00\x00", 4)},
        {"float64", [](XdrOutput& x) { x.put_float64(-2.0); }, std::string("\xc0\x00\x00\x00\x00\x00\x00\x00", 8)},
        {"string", [](XdrOutput& x) { x.put_str("abcde"); }, std::string("\0\0\0\5abcde\0\0\0", 12)},
        {"string of four", [](XdrOutput& x) { x.put_url("abcd"); }, std::string("\0\0\0\4abcd", 8)},
        {"opaque", [](XdrOutput& x) { x.put_opaque(const_cast<char*>("xy"), 2); }, std::string("xy\0\0", 4)},
        {"int16", [](XdrOutput& x) { x.put_int16(-2); }, std::string("\xff\xff\xff\xfe", 4)},
        {"bytes", [&bytes](XdrOutput& x) { x.put_vector(const_cast<char*>("abc"), 3, bytes); },
         std::string("\0\0\0\3\0\0\0\3abc\0", 12)},
        {"reals", [&reals](XdrOutput& x) {
             const double v[] = {1.0};
             x.put_vector(reinterpret_cast<char*>(const_cast<double*>(v)), 1, 8, reals);
         },
         std::string("\0\0\0\1\0\0\0\1\x3f\xf0\0\0\0\0\0\0", 16)},
    };
    for (const Row& row : rows) {
        std::string out = "<";
        XdrOutput xdr(out);
        row.put(xdr);
        EXPECT_EQ(out, "<" + row.bytes) << row.name;
    }
}

}  // namespace
