#pragma once

// Where a run keeps its record when it is not its own file beside the BMP: a set of sheets
// keeps the records of all its sheets in the set's one record. Called on the run's thread.

#include "run/JobRecord.h"

#include <QString>

#include <optional>

class RunRecordStore {
public:
    virtual ~RunRecordStore() = default;
    // The record of an earlier run of this job, if there is one; `refused` says why one
    // that is there was not read.
    virtual std::optional<JobRecord> loadRecord(QString* refused) = 0;
    // The record as it stands now, while the run goes on or once it has stopped short.
    virtual void saveRecord(const JobRecord& record) = 0;
    // Everything the run had to do is done, as the record says: where a run of its own
    // removes its file.
    virtual void recordDone(const JobRecord& record) = 0;
};
