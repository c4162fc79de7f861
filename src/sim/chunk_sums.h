// Weighted sums over the nodes of a chunk, for the mass budget. Every sum of
// a[i] * w[i] over a chunk's nodes is taken in four interleaved partial sums
// (node i into partial sum i % 4, the four added in pairs at the end), so that
// the additions need not wait for each other and the order is fixed by the
// chunk alone, whatever the threads. The partial sums are taken in vector
// lanes of 1, 2 or 4 doubles (4: AVX2, chosen at run time), each lane the
// same operations in the same order: the same bits for every width.
#pragma once

// out[r] = the sum of a[r * rowStride + i] * w[i] over i < count, r < rows:
// rows of node values lying side by side.
void WeightedRowSums(const double* a, int rowStride, int rows, const double* w, int count,
                     double* out);

// out[m] = the sum of a[i * stride + m] * w[i] over i < count, m < nEntries
// (nEntries <= stride): entries of a node lying side by side. When stride
// leaves room, the values after each node's entries but the last node's are
// read (not used).
void WeightedEntrySums(const double* a, int stride, int nEntries, const double* w, int count,
                       double* out);

// The lanes the sums take: 1, 2 or 4 (0: the widest the processor has, as a
// run chooses). For tests that compare the widths.
void SetChunkSumLanes(int lanes);
int ChunkSumLanes();
