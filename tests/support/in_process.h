// A model read or run in-process, as the binary reads and runs it, with the
// worker's reports recorded: the model file in its fields, a reader harness
// and the end of a whole run.
#pragma once

#include "io/reader.h"
#include "model/exceptions.h"
#include "model/limits.h"
#include "model/simulation.h"
#include "run/run_control.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kova_test {

// The model file in its fields, for tests that change one field at a time.
// It starts as the numbers of TWO_NODE_MODEL: one row of two nodes, heads 10
// and 0 held fixed, one mobile component, no reactions, one empty set.
struct CModelFields {
    std::string header = "1 2 0 1 0 1";
    std::string times = "0 10 1 0.1 1e-6";
    std::string rowCoords = "0";
    std::string colCoords = "0 10";
    std::string transport = "1 0.1 0";
    std::string defaults = "0 0 0.3 1 1 0 0 0";
    std::string overrides = "2  0 0 0 10  0 0 7 1";
    std::string fixedHeads = "2  0 0  0 1";
    std::string reactions = "";
    std::string defaultSet = "0";
    std::string setOverrides = "0";
    std::string sets = "0 0";

    // One field a line.
    std::string Text() const;
};

// A model read as a run reads it (m_nStateSlots = SLOT_COUNT, then
// ReadInput); the worker's reports, the reader's diagnostic line among them,
// go to sink.
struct CModelReader {
    CRunControl control{"m"};
    CRecordingSink sink;
    CSimulation sim{&control};

    CModelReader() { control.SetMessageSink(&sink); }
    // Reads text; a failure passes to the caller.
    void Read(const std::string& text) { ReadInput(sim, *ModelStream(text)); }
    // Reads text; returns the detail of the failure of class E, or "" and a
    // test failure when there is none.
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

// The detail of the failure of class E that reading text with a fresh reader
// gives, or "" and a test failure when there is none.
template <typename E> std::string ReadFailure(const std::string& text) {
    CModelReader reader;
    return reader.Failure<E>(text);
}

// Reads text with a fresh reader; any failure is a test failure.
void ExpectReads(const std::string& text);

// How a run of a model file in-process ended.
struct CInProcessRun {
    std::string error;                // the run's error text; empty when it did not fail
    std::string status;               // the last status line
    std::vector<std::string> texts;   // the failure reports shown
    std::vector<std::string> details; // and their details
};

// Runs base.kvi through CSimulation::Run, as the binary's worker does.
CInProcessRun RunInProcess(const std::string& base);

} // namespace kova_test
