#pragma once
// libdap's marshaller interface writing XDR (big-endian) into a string
// sized beforehand. libdap's own XDRStreamMarshaller encodes every scalar
// in one buffer shared by all its instances and starts a thread per
// array, so two requests serialised at once would mix their bytes.
#include <libdap/Marshaller.h>

#include <string>
#include <utility>
#include <vector>

#include "dap/dataset.h"

namespace dap::detail {

class XdrOutput : public libdap::Marshaller {
public:
    explicit XdrOutput(std::string& out) : out_(out) {}

    void put_byte(libdap::dods_byte value) override { put_u32(value); }
    void put_int16(libdap::dods_int16 value) override { put_u32(static_cast<uint32_t>(static_cast<int32_t>(value))); }
    void put_int32(libdap::dods_int32 value) override { put_u32(static_cast<uint32_t>(value)); }
    void put_float32(libdap::dods_float32 value) override;
    void put_float64(libdap::dods_float64 value) override;
    void put_uint16(libdap::dods_uint16 value) override { put_u32(value); }
    void put_uint32(libdap::dods_uint32 value) override { put_u32(value); }
    void put_str(const std::string& value) override;
    void put_url(const std::string& value) override { put_str(value); }
    void put_opaque(char* value, unsigned int length) override;
    void put_int(int value) override { put_u32(static_cast<uint32_t>(value)); }
    void put_vector(char* values, int count, libdap::Vector& vector) override;
    void put_vector(char* values, int count, int width, libdap::Vector& vector) override;
    void dump(std::ostream&) const override {}
    // Part of an array's values, after put_int of its count twice.
    void put_floats(const float* values, uint64_t count);
    size_t size() const { return out_.size(); }

    // When set, pdsi's values are left out and noted here with where
    // they belong, to be read as the answer is sent.
    std::vector<std::pair<size_t, Slab>>* deferred = nullptr;

private:
    void put_u32(uint32_t value);
    void pad(size_t length);

    std::string& out_;
};

}  // namespace dap::detail
