// What the command line asks of a run besides its model: the threads it
// computes with and the results it keeps. The front end fills it once; the
// run sequence gives it to the model.
#pragma once

struct CRunSettings {
    int m_threads = 1;            // threads to compute with
    bool m_threadsForced = false; // asked for (--threads): a small grid takes no fewer
    bool m_keepBudget = true;     // write BASE.budget.csv
    // Go on from the checkpoint BASE.kvr instead of starting (--continue),
    // to the end time m_until when m_untilGiven (--until), else the model's.
    bool m_continue = false;
    bool m_untilGiven = false;
    double m_until = 0.0;
};
