#include "support/in_process.h"
#include "sim/run.h"

namespace kova_test {

std::string CModelFields::Text() const {
    return header + "\n" + times + "\n" + rowCoords + "\n" + colCoords + "\n" + transport + "\n" +
           defaults + "\n" + overrides + "\n" + fixedHeads + "\n" + reactions + "\n" + defaultSet +
           "\n" + setOverrides + "\n" + sets + "\n";
}

void ExpectReads(const std::string& text) {
    CModelReader reader;
    try {
        reader.Read(text);
    } catch (const Exception& e) {
        ADD_FAILURE() << e.Detail() << "\nfor:\n" << text;
    }
}

CInProcessRun RunInProcess(const std::string& base) {
    CRunControl control(base.c_str());
    CRecordingSink sink;
    control.SetMessageSink(&sink);
    {
        CSimulation sim(&control);
        RunSimulation(sim);
    }
    CInProcessRun run;
    run.error = control.GetError() ? control.GetError() : "";
    run.status = control.GetStatus().value_or("");
    run.texts = sink.texts;
    run.details = sink.details;
    return run;
}

} // namespace kova_test
