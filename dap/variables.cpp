#include "dap/variables.h"

#include <libdap/Float32.h>
#include <libdap/Float64.h>
#include <libdap/InternalErr.h>

#include "dap/xdr_output.h"
#include "parallel/huge_pages.h"

namespace dap::detail {

Slab slab_of(libdap::Array& array) {
    Slab slab;
    size_t k = 0;
    for (auto d = array.dim_begin(); d != array.dim_end() && k < 3; ++d, ++k) {
        slab.start[k] = array.dimension_start(d, true);
        slab.stride[k] = array.dimension_stride(d, true);
        slab.stop[k] = array.dimension_stop(d, true);
    }
    return slab;
}

template <class Element, class Proto>
bool Axis<Element, Proto>::read() {
    if (read_p()) return true;
    const Slab slab = slab_of(*this);
    std::vector<Element> picked;
    picked.reserve(static_cast<size_t>(slab.count(0) * (width_ == 2 ? slab.count(1) : 1)));
    for (int32_t k = slab.start[0]; k <= slab.stop[0]; k += slab.stride[0]) {
        if (width_ == 1) {
            picked.push_back((*values_)[k]);
            continue;
        }
        for (int32_t e = slab.start[1]; e <= slab.stop[1]; e += slab.stride[1]) picked.push_back((*values_)[2 * k + e]);
    }
    set_value(picked, static_cast<int>(picked.size()));
    set_read_p(true);
    return true;
}

bool CrsVariable::read() {
    if (read_p()) return true;
    set_value(0);
    set_read_p(true);
    return true;
}

template class Axis<libdap::dods_float32, libdap::Float32>;
template class Axis<libdap::dods_float64, libdap::Float64>;

FieldArray::FieldArray(const Source& source) : libdap::Array("pdsi", nullptr), source_(&source) {
    libdap::Float32 proto("pdsi");
    add_var(&proto);
    append_dim(kTimes, "time");
    append_dim(kLats, "lat");
    append_dim(kLons, "lon");
}

bool FieldArray::read() {
    if (read_p() || source_->deferred) return true;
    if (!source_->values) throw libdap::InternalErr(__FILE__, __LINE__, "pdsi read with no values to read");
    const Slab slab = slab_of(*this);
    // Straight into libdap's buffer: the whole field is 61 MB.
    reserve_value_capacity(static_cast<unsigned>(slab.size()));
    parallel::prefer_huge_pages(get_buf(), slab.size() * sizeof(float));
    source_->values->read(slab, reinterpret_cast<float*>(get_buf()));
    set_read_p(true);
    return true;
}

bool FieldArray::serialize(libdap::ConstraintEvaluator& eval, libdap::DDS& dds, libdap::Marshaller& m, bool ce_eval) {
    auto* out = dynamic_cast<XdrOutput*>(&m);
    // Deferred whatever libdap marked as read: a Grid marks its parts.
    if (out && out->deferred) {
        const Slab slab = slab_of(*this);
        out->put_int(static_cast<int>(slab.size()));
        out->put_int(static_cast<int>(slab.size()));
        out->deferred->emplace_back(out->size(), slab);
        return true;
    }
    // Otherwise the Grid has read the field into libdap's buffer.
    return libdap::Array::serialize(eval, dds, m, ce_eval);
}

bool FieldGrid::read() {
    if (read_p()) return true;
    for (auto part = var_begin(); part != var_end(); ++part)
        if ((*part)->send_p()) (*part)->read();
    set_read_p(true);
    return true;
}

}  // namespace dap::detail
