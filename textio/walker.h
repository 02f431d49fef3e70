#pragma once
// Walks a compiled layout for one read or write: hands out one field at a
// time and carries out the literal, positioning and "/" items met on the way
// through an `Ops` object with text(), skip(), column() and slash(), each
// returning false to stop the walk (input that ran out).
#include <array>
#include <cstdint>

#include "textio/layout.h"

namespace textio {

class Walker {
public:
    explicit Walker(const Layout& layout)
        : items_(layout.items().data()),
          size_(static_cast<int32_t>(layout.items().size())),
          reversion_(layout.reversion_index()),
          has_fields_(layout.has_fields()) {}

    // The field for the next value, or nullptr when the walk stops: the ops
    // refused, or the layout can take no more values.
    template <class Ops>
    const FieldSpec* next(Ops& ops) {
        if (field_left_ > 0) {
            --field_left_;
            return field_;
        }
        for (;;) {
            if (pos_ == size_) {
                // A second reversion without a field between would loop for ever.
                if (!has_fields_ || reverted_idle_) return nullptr;
                if (!ops.slash()) return nullptr;
                pos_ = reversion_;
                reverted_idle_ = true;
                continue;
            }
            const LayoutItem& item = items_[pos_];
            if (item.kind == LayoutItem::Field) {
                ++pos_;
                if (item.count <= 0) continue;
                field_ = &item.field;
                field_left_ = item.count - 1;
                reverted_idle_ = false;
                return field_;
            }
            if (!step(ops, item)) return nullptr;
        }
    }

    // After the last value: carries on up to the next field item or the end
    // of the layout. False when the ops refused.
    template <class Ops>
    bool finish(Ops& ops) {
        if (field_left_ > 0) return true;
        while (pos_ < size_) {
            const LayoutItem& item = items_[pos_];
            if (item.kind == LayoutItem::Field) {
                if (item.count > 0) return true;
                ++pos_;
                continue;
            }
            if (!step(ops, item)) return false;
        }
        return true;
    }

    // A "$" was met: the last record stays open.
    bool dollar() const { return dollar_; }

private:
    template <class Ops>
    bool step(Ops& ops, const LayoutItem& item) {
        switch (item.kind) {
        case LayoutItem::GroupOpen:
            if (item.count <= 0) {
                pos_ = item.partner + 1;
                return true;
            }
            left_[depth_++] = item.count;
            break;
        case LayoutItem::GroupClose:
            if (--left_[depth_ - 1] > 0) {
                pos_ = item.partner + 1;
                return true;
            }
            --depth_;
            break;
        case LayoutItem::Literal:
            if (!ops.text(item.text)) return false;
            break;
        case LayoutItem::Skip:
            if (!ops.skip(item.count)) return false;
            break;
        case LayoutItem::Column:
            if (!ops.column(item.count)) return false;
            break;
        case LayoutItem::Slash:
            if (!ops.slash()) return false;
            break;
        case LayoutItem::Dollar:
            dollar_ = true;
            break;
        case LayoutItem::Field:
            break;
        }
        ++pos_;
        return true;
    }

    const LayoutItem* items_;
    int32_t size_;
    int32_t reversion_;
    bool has_fields_;
    int32_t pos_ = 0;
    int32_t field_left_ = 0;
    const FieldSpec* field_ = nullptr;
    bool reverted_idle_ = false;
    bool dollar_ = false;
    int32_t depth_ = 0;
    std::array<int32_t, 21> left_{};  // repeats left of each open group
};

}  // namespace textio
