#pragma once
// How far a long step has come: months of the grid read, cells filled.
// Scripted runs show it on a terminal; the dialogue passes none.
#include <cstdint>

namespace textio {

class Progress {
public:
    virtual ~Progress() = default;
    virtual void advance(int32_t done, int32_t total) = 0;
};

}  // namespace textio
