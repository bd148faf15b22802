#pragma once

// The measures kept between sessions, in the user's cache folder (never in a job's folder):
// read and added to here alone, by the windows and by `--batch`. Each addition reads the
// file again and writes it whole under a temporary name before it replaces the old one, so
// that two programs adding at once lose nothing but the other's latest figures, and a
// damaged or foreign file is taken for none.

#include "job/RunMeasures.h"

#include <QFuture>
#include <QString>

namespace MeasureStore {

// The file in the cache folder; empty when the system gives no cache folder.
QString Path();

// What the file holds; no measures when it is missing, larger than it can be, damaged or
// not ours. Blocks on the disk: not on the window's thread.
RunMeasures Load(const QString& path = Path());
// Adds `samples` to what the file holds and writes it back; false, with the reason, when
// it cannot be written.
bool Add(const RunMeasures& samples, const QString& path = Path(), QString* error = nullptr);

// The same on the store's own thread, one after the other in the order asked, so that a
// read asked after an addition sees it; the file is the one named when they are asked.
// The application object waits for them when it goes.
QFuture<RunMeasures> LoadLater();
void AddLater(const RunMeasures& samples);
void WaitForWrites();

} // namespace MeasureStore
