#pragma once
// Eigenvalues and eigenvectors of a real symmetric matrix (Householder
// tridiagonalisation and QL with shifts), largest eigenvalue first.
#include <cstdint>

#include "numeric/matrix.h"
#include "textio/sink.h"

namespace numeric {

// n     in/out  order of the matrix; set to 0 when an eigenvalue does not
//               converge within `maxiter` iterations
// d     out     n eigenvalues, decreasing
// e     work    n reals
// z     in/out  in: the matrix (lower triangle read); out: eigenvectors as columns
// console       where the failure record goes
void htdql(int32_t& n, float* d, float* e, ColumnMatrix<float> z, textio::Sink& console,
           int32_t maxiter = 30);

}  // namespace numeric
