#include "post/run_results.h"

#include "post/entry_names.h"

CRunResults::CRunResults(const std::string& base)
    : m_base(base), m_grid(LoadModelGrid(base)), m_names(EntryNames(m_grid)),
      m_files(base, m_grid) {}

std::string CRunResults::UnfinishedNotice() const {
    if (m_files.IsFinished())
        return "";
    std::string notice = m_files.TimePath() +
                         " holds only the marker of an unfinished run (it is still going, or "
                         "it failed): " +
                         std::to_string(m_files.RecordCount()) +
                         (m_files.RecordCount() == 1 ? " record" : " records") +
                         " taken from the length of " + m_files.DataPath() + "; ";
    if (m_files.TimesReplayed())
        notice += "record times replayed from the model's global step";
    else
        notice += "record times estimated as start + record x output interval (the run "
                  "computed its own step)";
    return notice;
}

std::string CRunResults::SkippedRecordNotice() const {
    if (m_files.SkippedBytes() == 0)
        return "";
    return m_files.DataPath() + " ends " + std::to_string(m_files.SkippedBytes()) +
           " bytes into record " + std::to_string(m_files.RecordCount()) + ", which is skipped";
}
