// What earlier runs that were stopped half way (logoff, shutdown, a killed
// process) left: their run folders, with journals naming what they staged
// and removed. Called under the session's run lock, before the version
// checks, so that the run then judges the components as they were put back.
#pragma once

// For each earlier run folder whose owner is gone: deletes the staged
// installers the journal names (only those that lie where a run stages
// them, and never through a link); while one is still in use (a program the
// stopped run started still runs) the folder is kept for a later run.
// Otherwise puts back every component the journal says was being removed
// that is not at a readable version now, removes the folders the journal
// names, then the run folder itself. A journal that is not one this helper wrote
// (malformed, too large, a link, naming other places) is ignored and its
// folder removed; nothing it names is touched. Every finding is logged.
void RecoverUnfinishedRuns();
