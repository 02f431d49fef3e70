#pragma once
// libdap's arrays and Grid, filled from memory when libdap serialises
// them: each reads only what the constraint left of it.
#include <libdap/Array.h>
#include <libdap/Grid.h>
#include <libdap/Int32.h>

#include <string>
#include <vector>

#include "dap/dataset.h"

namespace dap::detail {

// The request's values, set once the answer is being made.
struct Source {
    const Values* values = nullptr;
    bool deferred = false;  // pdsi's values are read as the answer is sent
};

// A coordinate, or with `bounds` its cells' edges [dim][nv], whose values
// are computed once for the process; Element is dods_float32 or
// dods_float64, Proto libdap's Float32 or Float64.
template <class Element, class Proto>
class Axis : public libdap::Array {
public:
    Axis(const std::string& name, const std::vector<Element>& values, const std::string& dim = "", bool bounds = false)
        : libdap::Array(name, nullptr), values_(&values), width_(bounds ? 2 : 1) {
        Proto proto(name);
        add_var(&proto);  // copied
        append_dim(static_cast<int>(values.size()) / width_, dim.empty() ? name : dim);
        if (bounds) append_dim(2, "nv");
    }
    libdap::BaseType* ptr_duplicate() override { return new Axis(*this); }
    bool read() override;

private:
    const std::vector<Element>* values_;
    int32_t width_;
};

// The CF grid mapping's container: its attributes are what count.
class CrsVariable : public libdap::Int32 {
public:
    explicit CrsVariable(const std::string& name) : libdap::Int32(name) {}
    libdap::BaseType* ptr_duplicate() override { return new CrsVariable(*this); }
    bool read() override;
};

// pdsi[time][lat][lon].
class FieldArray : public libdap::Array {
public:
    explicit FieldArray(const Source& source);
    libdap::BaseType* ptr_duplicate() override { return new FieldArray(*this); }
    bool read() override;
    // Into a stream's marshaller only its place: the values are read as
    // the answer is sent, never whole in libdap's buffer (61 MB).
    bool serialize(libdap::ConstraintEvaluator& eval, libdap::DDS& dds, libdap::Marshaller& m,
                   bool ce_eval = true) override;

private:
    const Source* source_;
};

// The Grid reads only its projected parts: libdap's own read would fill
// the whole array for a request of one map.
class FieldGrid : public libdap::Grid {
public:
    explicit FieldGrid(const std::string& name) : libdap::Grid(name) {}
    libdap::BaseType* ptr_duplicate() override { return new FieldGrid(*this); }
    bool read() override;
};

// The array's constrained start, stride and stop in each dimension.
Slab slab_of(libdap::Array& array);

}  // namespace dap::detail
