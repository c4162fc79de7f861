// The transport step of the mobile components over one global step and the
// stable global step of that explicit scheme (transport/transport.cpp and
// transport/stable_step.cpp say how each is computed).
#pragma once

#include <climits>
#include <cstddef>
#include <string>

class CSimulation;

// The default scheme's step into m_transportDelta, by the per-node gather, and
// written plainly as face loops (the same bits), without the injected water.
void TransportStepFaceLoops(CSimulation& s);
void TransportStepGather(CSimulation& s);
// The default scheme's step for the rows rowBegin..rowEnd-1 alone, by the
// per-node gather (the face loops' bits), without the injected water: it
// reads m_state of the rows next to the range too. m_transportWork.m_gatherScratch must
// hold GatherScratchSize doubles per thread.
void TransportStepRows(CSimulation& s, int rowBegin, int rowEnd);
// The gather's scratch of one thread, in doubles.
size_t GatherScratchSize(const CSimulation& s);
// Makes m_transportWork.m_gatherScratch hold the gather's scratch of every thread, before
// the time loop (the loop allocates nothing).
void SizeGatherScratch(CSimulation& s);
// The gather takes neighbouring columns in lanes: 8 with AVX-512, 4 with
// AVX2, else 2; the bits are the same for every width. SetGatherLanes(1, 2 or
// 4) narrows them for the whole process (a comparison of the widths), any
// other value restores the widest; GatherLanes tells the width in use.
void SetGatherLanes(int lanes);
int GatherLanes();

// The transport step of the schemes that take every face from its upstream
// side (transport/upstream_transport.cpp); the default scheme is the one above.
void TransportStepUpstream(CSimulation& s);
// That step for the rows rowBegin..rowEnd-1 alone, without the injected
// water: it reads m_state of up to three rows beyond the range on each side,
// and writes m_transportDelta of one row beyond it as well.
void TransportStepUpstreamRows(CSimulation& s, int rowBegin, int rowEnd);
// Makes the per-face work of those schemes (m_faceFlux, and with a cross
// term to limit m_faceCross and m_crossLimits: 2 values per node and mobile
// component each), before the time loop; the bytes it takes.
void PrepareUpstreamWork(CSimulation& s);
double UpstreamWorkBytes(const CSimulation& s);
// The stable steps of the symmetric and tvd schemes (as StableStep).
// Over rows rowBegin..rowEnd-1 (rowEnd beyond the grid: its last row).
double SymmetricStableStep(const CSimulation& s, double duration, int* limiting, int rowBegin = 0,
                           int rowEnd = INT_MAX);
double TvdStableStep(const CSimulation& s, double duration, int* limiting, int rowBegin = 0,
                     int rowEnd = INT_MAX);
// The largest step that keeps every node's share of its own value >= 0 under
// the default (or the symmetric) step: the stable step's bound where the
// porosity or the dispersion changes sharply from node to node.
double SelfShareStableStep(const CSimulation& s, double duration, int* limiting, bool symmetric,
                           int rowBegin = 0, int rowEnd = INT_MAX);
// The default rule's candidate from a node's velocity term v > 0 and its
// dispersion term d (transport/stable_step.cpp).
double LaxWendroffCandidate(double v, double d);

// The number of faces whose water flows towards the lower index (after the
// flow field is computed). A face whose flux is round-off of the largest
// (below ReverseFaceThreshold of it) carries no water either way.
int CountReverseFaces(const CSimulation& s);
// The largest face flux of the nodes first..end-1, the threshold a face's
// flux must pass the other way, and the count over those nodes.
double LargestFlux(const CSimulation& s, int first, int end);
double ReverseFaceThreshold(double largestFlux);
int CountReverseFaces(const CSimulation& s, int first, int end, double threshold);
// The warning for the model's faces when its transport form warns of them
// (CTransportScheme::WarnsOfReverseFlow); empty when it does not or the
// model has none.
std::string ReverseFlowWarning(const CSimulation& s);
// The warning for count faces (empty for none).
std::string ReverseFlowWarning(int count);

// The largest global step the transport step is stable with over a run of the
// given duration, into m_globalStep (and reported to the run control); a
// duration is the step when no node limits it.
void ComputeStableStep(CSimulation& s, double duration);
// Its second half: step, given by node limiting (-1: none), into
// m_globalStep; throws when it is not positive.
void SetStableStep(CSimulation& s, double duration, double step, int limiting);

// The default (or, symmetric, the symmetric) scheme's step over the nodes of
// rows rowBegin..rowEnd-1 (rowEnd at most the row count), kept within
// SelfShareStableStep: the smallest candidate, at most duration; *limiting is
// the node that gives it (-1: none does).
double StableStepWithinSelfShare(const CSimulation& s, double duration, int* limiting,
                                 bool symmetric, int rowBegin, int rowEnd);
