#pragma once
// The Queens Case search: the centre cell and the cells one step away from it
// in the eight directions of a king's move, by exact coordinate equality.
#include <cstdint>
#include <string>

namespace qc {

inline constexpr int32_t kExcluded = -9999;  // first year that bars a cell from every list

// coord   in   ldim rows by 2 columns, by columns: latitude, then longitude
// ngrid   in   rows 1..ngrid are searched
// ic      in   centre cell number, 1..ngrid
// nfound  out  number of cells listed
// gpt     out  nlist entries: cleared, then gpt[0..nfound-1] the cell numbers
// iyrs    in   per-cell first years; kExcluded keeps a cell out of every list
// ldim    in   row capacity of coord; a negative one counts as 0
// nlist   in   room in gpt; matches beyond it are ignored
// dist    in   step in degrees
void findgridpoints(const float* coord, int32_t ngrid, int32_t ic, int32_t& nfound, int32_t* gpt,
                    const int32_t* iyrs, int32_t ldim, int32_t nlist, float dist);

// Fills the field with blanks, first to last character.
void blank(std::string& text);

}  // namespace qc
