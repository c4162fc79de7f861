// The time loop: the flux field and (when the model asks for it) the stable
// global step once, then global steps of transport followed by every node's
// reactions, a record at the start and after each output interval (the
// record clock of model/record_clock.h), progress reports, and an early end
// on cancel, which still gets a record at the time reached.
#pragma once

class CRunOutput;
class CSimulation;

void TimeLoop(CSimulation& s, CRunOutput& output);
