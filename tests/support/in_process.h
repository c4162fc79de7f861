// Transitional: the reader harness of the older tests over support/engine.h.
#pragma once

#include "support/engine.h"

namespace kova_test {

struct CModelReader {
    CEngine engine;
    CRunControl& control = engine.control;
    CRecordingSink& sink = engine.sink;
    CSimulation& sim = engine.sim;

    CModelReader() { sim.m_nStateSlots = SLOT_COUNT; }
    void Read(const std::string& text) { engine.Read(text); }
    template <typename E> std::string Failure(const std::string& text) {
        try {
            Read(text);
        } catch (const E& e) {
            return e.Detail();
        }
        ADD_FAILURE() << "no failure for:\n" << text;
        return "";
    }
};

} // namespace kova_test
